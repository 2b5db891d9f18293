#include "http_date.h"

#include <cstdio>

namespace tavri::http {

std::string http_date(std::time_t when) {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  gmtime_r(&when, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// Formatted once per second at most, per thread: the connections of one
// thread share it, and no lock is shared between threads.
const std::string& http_date_now() {
  thread_local std::time_t cached_at = -1;
  thread_local std::string cached;
  const std::time_t now = std::time(nullptr);
  if (now != cached_at) {
    cached = http_date(now);
    cached_at = now;
  }
  return cached;
}

}  // namespace tavri::http
