#pragma once
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavri::http {

struct ByteRange {
  std::uint64_t location = 0;
  std::uint64_t length = 0;
  std::uint64_t last() const { return location + length - 1; }
  auto operator<=>(const ByteRange&) const = default;
};

inline constexpr std::size_t kMaxRangeParts = 32;

// The satisfiable ranges of a Range header for a body of content_length
// bytes, sorted; nothing when the header is not a range request, or asks
// for more than kMaxRangeParts parts (the whole body is sent then).
std::optional<std::vector<ByteRange>> parse_range_request(std::string_view header, std::uint64_t content_length);

// "first-last/total"
std::string content_range(const ByteRange& range, std::uint64_t content_length);

}  // namespace tavri::http
