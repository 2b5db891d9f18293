#include "byte_range.h"

#include <algorithm>
#include <cctype>

#include "http_message.h"

namespace tavri::http {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::optional<ByteRange> parse_piece(std::string_view piece, std::uint64_t length) {
  auto dash = piece.find('-');
  if (dash == std::string_view::npos) {
    auto n = parse_uint64(piece);
    if (n && *n < length) return ByteRange{*n, 1};
    return std::nullopt;
  }
  auto before = trim(piece.substr(0, dash));
  auto after = trim(piece.substr(dash + 1));
  if (!before.empty() && !after.empty()) {
    auto a = parse_uint64(before), b = parse_uint64(after);
    // A last byte past the end means "to the end": chunked downloaders ask
    // for fixed-size chunks and the last one overshoots.
    if (a && b && *a <= *b && *a < length) return ByteRange{*a, std::min(*b, length - 1) - *a + 1};
  } else if (!before.empty()) {
    auto a = parse_uint64(before);
    if (a && *a < length) return ByteRange{*a, length - *a};
  } else if (!after.empty()) {
    auto b = parse_uint64(after);
    // A suffix of zero bytes would leave nothing to send and the connection
    // waiting for ever: treated as not satisfiable.
    if (b && *b <= length && *b > 0) return ByteRange{length - *b, *b};
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<ByteRange>> parse_range_request(std::string_view header, std::uint64_t content_length) {
  auto equals = header.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  if (!equals_ignoring_case(trim(header.substr(0, equals)), "bytes")) return std::nullopt;
  auto rest = trim(header.substr(equals + 1));
  std::vector<ByteRange> ranges;
  while (true) {
    auto comma = rest.find(',');
    auto range = parse_piece(rest.substr(0, comma), content_length);
    if (!range) return std::nullopt;
    ranges.push_back(*range);
    // Many tiny parts would multiply the answer's size by their part heads:
    // past the cap the whole body is sent instead, once.
    if (ranges.size() > kMaxRangeParts) return std::nullopt;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t i = 1; i < ranges.size(); ++i)
    if (ranges[i - 1].location + ranges[i - 1].length > ranges[i].location) return std::nullopt;
  return ranges;
}

std::string content_range(const ByteRange& range, std::uint64_t content_length) {
  return "bytes " + std::to_string(range.location) + "-" + std::to_string(range.last()) + "/" +
         std::to_string(content_length);
}

}  // namespace tavri::http
