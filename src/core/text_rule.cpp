#include "core/text_rule.h"

#include <cstdint>
#include <cstdio>

namespace tavri::text_rule {

namespace {

// The next code point of valid UTF-8 (shortest form, no surrogates, at
// most U+10FFFF); -1 when the bytes are not that.
std::int32_t next(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  if (b < 0x80) return s[i++];
  int extra = 0;
  std::int32_t cp = 0, min = 0;
  if ((b & 0xE0) == 0xC0) extra = 1, cp = b & 0x1F, min = 0x80;
  else if ((b & 0xF0) == 0xE0) extra = 2, cp = b & 0x0F, min = 0x800;
  else if ((b & 0xF8) == 0xF0) extra = 3, cp = b & 0x07, min = 0x10000;
  else return -1;
  if (i + extra >= s.size()) return -1;
  for (int k = 1; k <= extra; ++k) {
    const unsigned char c = byte(i + k);
    if ((c & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  i += extra + 1;
  return cp;
}

bool is_control(std::int32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

bool reorders(std::int32_t cp) {
  return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F ||
         cp == 0x061C;
}

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::id: return "an id";
    case Kind::name: return "a name";
    case Kind::file_name: return "a file name";
    case Kind::address: return "an address";
  }
  return "text";
}

}  // namespace

std::size_t max_length(Kind kind) {
  switch (kind) {
    case Kind::id: return 128;
    case Kind::name: return 256;
    case Kind::file_name: return 255;
    case Kind::address: return 2048;
  }
  return 0;
}

std::optional<std::string> problem(std::string_view utf8, Kind kind) {
  // File names are counted in bytes, as the file system counts them.
  if (kind == Kind::file_name && utf8.size() > max_length(kind))
    return "a file name may have at most " + std::to_string(max_length(kind)) + " bytes";
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::int32_t cp = next(utf8, i);
    if (cp < 0) return std::string(kind_name(kind)) + " must be valid UTF-8";
    if (is_control(cp)) return std::string(kind_name(kind)) + " must not hold control characters";
    if ((kind == Kind::id || kind == Kind::file_name) && reorders(cp))
      return std::string(kind_name(kind)) + " must not hold characters that change the direction of text";
    if (++characters > max_length(kind))
      return std::string(kind_name(kind)) + " may have at most " + std::to_string(max_length(kind)) + " characters";
  }
  return std::nullopt;
}

std::optional<QString> problem(const QString& text, Kind kind) {
  if (!text.isValidUtf16()) return QString("%1 must be valid Unicode text").arg(kind_name(kind));
  const QByteArray utf8 = text.toUtf8();
  if (const auto p = problem(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), kind))
    return QString::fromStdString(*p);
  return std::nullopt;
}

QStringList drop_breaking_text(QList<QVariantMap>& records, std::initializer_list<std::pair<QString, Kind>> keys) {
  QStringList dropped;
  for (qsizetype i = 0; i < records.size();) {
    std::optional<QString> why;
    for (const auto& [key, kind] : keys)
      if (const QVariant v = records[i].value(key); !why && v.typeId() == QMetaType::QString)
        why = problem(v.toString(), kind);
    if (!why) {
      ++i;
      continue;
    }
    const QVariant id = records[i].value("id", records[i].value("device_id"));
    dropped << QString("record %1 (id %2) dropped: %3")
                   .arg(i + dropped.size() + 1)
                   .arg(QString::fromStdString(escape_controls(id.toString().toStdString())), *why);
    records.removeAt(i);
  }
  return dropped;
}

std::string escape_controls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const std::int32_t cp = next(utf8, i);
    char hex[16];
    if (cp < 0) {
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(utf8[start]));
      out += hex;
      i = start + 1;
    } else if (is_control(cp) || reorders(cp)) {
      std::snprintf(hex, sizeof hex, cp < 0x100 ? "\\x%02X" : "\\u{%04X}", static_cast<unsigned>(cp));
      out += hex;
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  return out;
}

}  // namespace tavri::text_rule
