#include "validators.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>

#include "http_message.h"

namespace tavri::http {

namespace {

std::string_view opaque(std::string_view tag) { return tag.substr(0, 2) == "W/" ? tag.substr(2) : tag; }

}  // namespace

std::string entity_tag(const FileStamp& stamp) {
  char text[80];
  std::snprintf(text, sizeof text, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(stamp.size),
                static_cast<unsigned long long>(stamp.mtime_ns), static_cast<unsigned long long>(stamp.inode));
  return text;
}

std::optional<std::time_t> parse_http_date(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  s = trim_ows(s);
  // "Sun, 06 Nov 1994 08:49:37 GMT"
  if (s.size() != 29 || s.substr(3, 2) != ", " || s.substr(25) != " GMT" || s[7] != ' ' || s[11] != ' ' ||
      s[16] != ' ' || s[19] != ':' || s[22] != ':')
    return std::nullopt;
  auto number = [&](std::size_t at, std::size_t digits) -> int {
    int n = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
      n = n * 10 + (s[i] - '0');
    }
    return n;
  };
  const auto month = std::find(kMonths.begin(), kMonths.end(), s.substr(8, 3));
  std::tm tm{};
  tm.tm_mday = number(5, 2);
  tm.tm_year = number(12, 4) - 1900;
  tm.tm_hour = number(17, 2);
  tm.tm_min = number(20, 2);
  tm.tm_sec = number(23, 2);
  if (month == kMonths.end() || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_year < 0 || tm.tm_hour < 0 ||
      tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60)
    return std::nullopt;
  tm.tm_mon = static_cast<int>(month - kMonths.begin());
  return timegm(&tm);
}

bool none_match_hits(std::string_view header, std::string_view etag) {
  header = trim_ows(header);
  if (header == "*") return true;
  while (!header.empty()) {
    const auto comma = header.find(',');
    if (opaque(trim_ows(header.substr(0, comma))) == opaque(etag)) return true;
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  return false;
}

bool not_modified(const std::optional<std::string>& if_none_match, const std::optional<std::string>& if_modified_since,
                  std::string_view etag, std::time_t modified) {
  if (if_none_match) return none_match_hits(*if_none_match, etag);
  if (!if_modified_since) return false;
  const auto since = parse_http_date(*if_modified_since);
  return since && modified <= *since;
}

bool range_applies(std::string_view if_range, std::string_view etag, std::time_t modified, std::time_t now) {
  if_range = trim_ows(if_range);
  if (if_range.substr(0, 2) == "W/") return false;
  if (!if_range.empty() && if_range.front() == '"') return if_range == etag;
  const auto date = parse_http_date(if_range);
  return date && *date == modified && modified + 1 <= now;
}

std::string_view content_type_for(std::string_view path) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {"mov", "video/quicktime"},  {"m4v", "video/x-m4v"},      {"mp4", "video/mp4"},
      {"png", "image/png"},        {"jpg", "image/jpeg"},       {"jpeg", "image/jpeg"},
      {"stream", "text/plain; charset=us-ascii"},               {"webp", "image/webp"},
      {"svg", "image/svg+xml"},    {"html", "text/html; charset=utf-8"},
      {"htm", "text/html; charset=utf-8"},                      {"css", "text/css; charset=utf-8"},
      {"js", "text/javascript; charset=utf-8"},                 {"mjs", "text/javascript; charset=utf-8"},
      {"json", "application/json"}, {"woff2", "font/woff2"},    {"txt", "text/plain; charset=utf-8"},
      {"csv", "text/csv; charset=utf-8"},
  };
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return "application/octet-stream";
  const std::string_view ext = path.substr(dot + 1);
  for (const auto& [known, type] : kTypes)
    if (equals_ignoring_case(ext, known)) return type;
  return "application/octet-stream";  // .SAV (the players' lists) among them
}

}  // namespace tavri::http
