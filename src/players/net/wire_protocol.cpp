#include "wire_protocol.h"

#include <limits>

namespace tavri::wire {

namespace {
template <typename Arguments>
std::string join_command(std::string_view player_id, int code, const Arguments& arguments) {
  std::string out(player_id);
  out += kSeparator;
  out += std::to_string(code);
  for (std::string_view a : arguments) {
    out += kSeparator;
    out += a;
  }
  return out;
}
}  // namespace

std::string encode_command(std::string_view player_id, int code,
                           std::initializer_list<std::string_view> arguments) {
  return join_command(player_id, code, arguments);
}

std::string encode_command(std::string_view player_id, int code, const std::vector<std::string>& arguments) {
  return join_command(player_id, code, arguments);
}

std::string simple_feedback_request() { return encode_command("0", kSimpleFeedback); }

bool is_valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned min;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

std::vector<std::string_view> split_fields(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(kSeparator, start);
    if (at == std::string_view::npos) {
      out.push_back(text.substr(start));
      return out;
    }
    out.push_back(text.substr(start, at - start));
    start = at + kSeparator.size();
  }
}

std::int32_t parse_int_field(std::string_view f) {
  std::size_t i = 0;
  while (i < f.size() && (f[i] == ' ' || (f[i] >= '\t' && f[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < f.size() && (f[i] == '+' || f[i] == '-')) negative = f[i++] == '-';
  long long value = 0;
  constexpr long long kLimit = 1LL << 32;  // beyond either 32-bit limit
  while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
    if (value < kLimit) value = value * 10 + (f[i] - '0');
    ++i;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::string strip_mapped_prefix(std::string_view host) {
  constexpr std::string_view kMapped = "::ffff:";
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = host.find(kMapped, start);
    out += host.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    if (at == std::string_view::npos) return out;
    start = at + kMapped.size();
  }
}

bool contains_separator(std::string_view text) { return text.find(kSeparator) != std::string_view::npos; }

const char* drop_reason(Drop why) {
  switch (why) {
    case Drop::not_utf8: return "not UTF-8";
    case Drop::too_few_fields: return "fewer than 8 fields";
    case Drop::bad_id: return "an empty id or one with a NUL";
    case Drop::too_long: return "longer than 9216 bytes";
  }
  return "";
}

std::optional<Feedback> decode_feedback(std::string_view bytes, std::string_view sender_host, Drop* why) {
  auto drop = [why](Drop reason) -> std::optional<Feedback> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (!is_valid_utf8(bytes)) return drop(Drop::not_utf8);
  const auto fields = split_fields(bytes);
  if (fields.size() < kMinFeedbackFields) return drop(Drop::too_few_fields);
  // An empty id is no player; one with a NUL would be saved cut short and
  // come back as another player.
  if (fields[0].empty() || fields[0].find('\0') != std::string_view::npos) return drop(Drop::bad_id);
  Feedback f;
  f.device_id = fields[0];
  f.device_name = fields[1];
  f.status_device = parse_int_field(fields[2]);
  f.status_player = parse_int_field(fields[3]);
  f.id_playlist = fields[4];
  f.id_track = fields[5];
  f.status_menue = parse_int_field(fields[6]);
  f.status_sound = parse_int_field(fields[7]);
  f.device_time = fields.size() >= 9 ? std::string(fields[8]) : kAbsentField;
  f.device_background = fields.size() >= 10 ? std::string(fields[9]) : kAbsentField;
  f.device_ip = strip_mapped_prefix(sender_host);
  return f;
}

}  // namespace tavri::wire
