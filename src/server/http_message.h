#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavri::http {

// One HTTP/1.x message: a request fed line by line, or a response head
// composed for writing.
class HttpMessage {
 public:
  static HttpMessage empty_request() { return HttpMessage(); }
  // No description: the standard reason phrase of the code.
  static HttpMessage response(int status_code, std::string description = {}, std::string version = "HTTP/1.1");

  // Feeds received bytes; false once they cannot form a valid request head.
  bool append_data(std::string_view bytes);
  bool is_header_complete() const { return complete_; }
  bool has_request_line() const { return seen_request_line_; }

  const std::string& method() const { return method_; }
  const std::string& url() const { return url_; }  // the request target as sent
  const std::string& version() const { return version_; }
  int status_code() const { return status_; }

  // Case-insensitive lookup; repeated fields are joined with ", ".
  std::optional<std::string> header_field(std::string_view name) const;
  void set_header_field(std::string name, std::string value);
  const std::vector<std::pair<std::string, std::string>>& all_header_fields() const { return headers_; }

  const std::string& body() const { return body_; }
  void set_body(std::string body) { body_ = std::move(body); }

  std::vector<std::uint8_t> message_data() const;

  static std::string_view reason_phrase(int status_code);

 private:
  bool parse_line(std::string_view line);
  bool parse_request_line(std::string_view line);
  bool parse_header_line(std::string_view line);

  bool response_ = false;
  bool failed_ = false;
  bool complete_ = false;
  bool seen_request_line_ = false;
  std::string pending_;
  std::string method_, url_, version_, description_;
  int status_ = 0;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string body_;
};

// Without the spaces and tabs HTTP allows around a field value.
std::string_view trim_ows(std::string_view s);

// Equal ignoring ASCII case.
bool equals_ignoring_case(std::string_view a, std::string_view b);

// strtoull in base 10: leading white space and a sign accepted, stops at
// the first non-digit; nothing when no digit was found or on overflow.
std::optional<std::uint64_t> parse_uint64(std::string_view text);
// A Content-Length value: digits only (white space around them allowed).
std::optional<std::uint64_t> strict_content_length(std::string_view text);

}  // namespace tavri::http
