#include "content_item.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>
#include <QFileInfo>
#include <sys/stat.h>

#include "core/artwork.h"
#include "media_probe.h"

namespace tavri {
namespace {

struct Attributes {
  qint64 size = 0;
  QDateTime created, changed;
  qint64 file_number = 0;
};

std::optional<Attributes> read_attributes(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
  QFileInfo info(path);
  Attributes a;
  a.size = static_cast<qint64>(st.st_size);
  a.changed = info.lastModified();
  a.created = info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
  a.file_number = static_cast<qint64>(st.st_ino);
  return a;
}

bool percent_escapes_valid(const QString& s) {
  for (int i = 0; i < s.size(); ++i)
    if (s[i] == '%') {
      if (i + 2 >= s.size() || !isxdigit(s[i + 1].toLatin1()) || !isxdigit(s[i + 2].toLatin1())) return false;
      i += 2;
    }
  return true;
}

// Steps shared by the three kinds: name, size, dates, file number.
std::optional<Record> common_keys(const QUrl& url, bool with_size) {
  const QString path = url.toLocalFile();
  auto attributes = read_attributes(path);
  if (!attributes) return std::nullopt;
  Record r;
  r[key::FILE_NAME] = content_file_name(path);
  r[key::FILE_SIZE] = with_size ? QString::asprintf("%0.2f MB", static_cast<double>(
                                                                    static_cast<float>(attributes->size) / 1000000.0f))
                                : QString("NONE");
  r[key::FILE_CREATE] = attributes->created.toLocalTime().toString("yyyy-MM-dd HH:mm");
  r[key::FILE_CHANGE] = attributes->changed.toLocalTime().toString("yyyy-MM-dd HH:mm");
  r[key::FILE_ID] = attributes->file_number;
  r[key::FILE_URL] = url;
  r[key::FILE_FOUND] = 1;
  return r;
}

void merge(Record& into, const Record& from) {
  for (auto it = from.begin(); it != from.end(); ++it) into[it.key()] = it.value();
}

// Resolution, bit rate and codec as the metadata gives them.
void picture_keys(Record& r, const MediaInfo& info) {
  r[key::FILE_RESOLUTION] = QString("%1 x %2").arg(info.pixel_width).arg(info.pixel_height);
  if (info.video_bit_rate) r[key::FILE_BITRATE] = *info.video_bit_rate;
  r[key::FILE_CODEC] = info.codecs.isEmpty() ? QString("UNKNOWN") : info.codecs.first();
}

}  // namespace

ContentKind content_kind_of(const QString& file_name) {
  const int dot = file_name.lastIndexOf('.');
  if (dot < 0) return ContentKind::none;
  const QString ext = file_name.mid(dot + 1).toUpper();
  if (ext == "MOV" || ext == "M4V" || ext == "MP4") return ContentKind::movie;
  if (ext == "PNG" || ext == "JPG") return ContentKind::image;
  if (ext == "STREAM") return ContentKind::stream;
  return ContentKind::none;
}

QString content_file_name(const QString& path) {
  QString name = path.mid(path.lastIndexOf('/') + 1);
  const int dot = name.lastIndexOf('.');
  if (dot > 0) name.truncate(dot);
  if (!name.contains('%') || !percent_escapes_valid(name)) return name;
  const QByteArray decoded = QByteArray::fromPercentEncoding(name.toUtf8());
  QString text = QString::fromUtf8(decoded);
  // Escapes that do not make valid UTF-8 leave the name as it is.
  if (text.toUtf8() != decoded) return name;
  return text;
}

namespace {

Record movie_keys(const MediaInfo& info) {
  Record r;
  r[key::FILE_FPS] = QString::asprintf("%0.2f", info.has_video ? info.last_video_fps : 0.0);
  if (info.duration_seconds) r[key::FILE_LENGTH] = *info.duration_seconds;
  if (!info.kind.isEmpty()) r[key::FILE_KIND] = info.kind;
  r[key::FILE_TRACKS] = static_cast<int>(info.media_types.size());
  picture_keys(r, info);
  return r;
}

// An image tells its size; its codec and rate are not shown.
Record image_keys(const QString& path, const MediaInfo& probed) {
  MediaInfo info;
  info.pixel_width = probed.pixel_width;
  info.pixel_height = probed.pixel_height;
  Record r;
  r[key::FILE_FPS] = QString("--");
  r[key::FILE_LENGTH] = QString("5");
  if (probed.opened && probed.has_video) r[key::FILE_KIND] = media_kind_for(path);
  r[key::FILE_TRACKS] = 0;
  picture_keys(r, info);
  return r;
}

// The thumbnail the helper made, or the artwork shown for none.
QVariant thumbnail_or(const QByteArray& png, const char* fallback) {
  return QVariant::fromValue(png.isEmpty() ? artwork(fallback) : PngImage{png});
}

}  // namespace

Record movie_informations(const QUrl& url) { return movie_keys(probe_media(url.toLocalFile())); }

Record image_informations(const QUrl& url) {
  const QString path = url.toLocalFile();
  return image_keys(path, probe_media(path));
}

Record stream_informations(const QUrl&) {
  Record r;
  r[key::FILE_FPS] = QString("--");
  r[key::FILE_TRACKS] = 0;
  for (const char* k : {key::FILE_LENGTH, key::FILE_KIND, key::FILE_RESOLUTION, key::FILE_BITRATE, key::FILE_CODEC})
    r[k] = QString("STREAM");
  return r;
}

std::optional<Record> movie_item(const QUrl& url) {
  auto r = common_keys(url, true);
  if (!r) return std::nullopt;
  // Metadata and thumbnail from one opening of the file.
  QByteArray thumbnail;
  const MediaInfo info = probe_media(url.toLocalFile(), &thumbnail, kThumbSide);
  (*r)[key::IS_IMG] = false;
  (*r)[key::FILE_ICON] = thumbnail_or(thumbnail, "tavri_icon_fragezeichen.png");
  merge(*r, movie_keys(info));
  return r;
}

std::optional<Record> image_item(const QUrl& url) {
  auto r = common_keys(url, true);
  if (!r) return std::nullopt;
  const QString path = url.toLocalFile();
  QByteArray thumbnail;
  const MediaInfo info = probe_media(path, &thumbnail, kThumbSide);
  (*r)[key::IS_IMG] = true;
  (*r)[key::FILE_ICON] = thumbnail_or(thumbnail, "tavri_icon_file");
  merge(*r, image_keys(path, info));
  return r;
}

std::optional<Record> stream_item(const QUrl& url) {
  auto r = common_keys(url, false);
  if (!r) return std::nullopt;
  (*r)[key::IS_IMG] = false;
  (*r)[key::FILE_ICON] = QVariant::fromValue(artwork("tavri_icon_send"));
  merge(*r, stream_informations(url));
  return r;
}

std::optional<Record> item_for_kind(ContentKind kind, const QUrl& url) {
  switch (kind) {
    case ContentKind::movie: return movie_item(url);
    case ContentKind::image: return image_item(url);
    case ContentKind::stream: return stream_item(url);
    default: return std::nullopt;
  }
}

QString length_in_timecode(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return "--:--:--";
  long long t = 0;
  if (value.typeId() == QMetaType::QString) {
    const QString s = value.toString().trimmed();
    int i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    // Saturated: a long digit string must not overflow.
    constexpr long long kLimit = 1'000'000'000'000'000LL;
    for (; i < s.size() && s[i].isDigit(); ++i) t = std::min(kLimit, t * 10 + s[i].digitValue());
    if (negative) t = -t;
  } else {
    const double d = value.toDouble();  // truncated toward zero, saturated
    t = std::isfinite(d) ? static_cast<long long>(std::clamp(d, -1e18, 1e18)) : 0;
  }
  const long long hours = t / 3600, minutes = (t - 3600 * hours) / 60, seconds = t - 60 * minutes - 3600 * hours;
  return QString::asprintf("%02lld:%02lld:%02lld", hours, minutes, seconds);
}

}  // namespace tavri
