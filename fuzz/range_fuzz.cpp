// Range headers against a body length taken from the first eight bytes;
// every range returned must lie inside the body, sorted, without overlap.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "server/byte_range.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::uint64_t length;
  std::memcpy(&length, data, 8);
  std::string_view header(reinterpret_cast<const char*>(data + 8), size - 8);
  auto ranges = tavri::http::parse_range_request(header, length);
  if (!ranges) return 0;
  if (ranges->size() > tavri::http::kMaxRangeParts) __builtin_trap();
  std::uint64_t end = 0;
  for (const auto& r : *ranges) {
    if (r.length == 0 || r.location >= length || r.length > length - r.location) __builtin_trap();
    if (r.location < end) __builtin_trap();
    end = r.location + r.length;
  }
  return 0;
}
