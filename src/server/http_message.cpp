#include "http_message.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

namespace tavri::http {
namespace {

bool is_token_char(unsigned char c) {
  if (std::isalnum(c)) return true;
  switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+': case '-': case '.':
    case '^': case '_': case '`': case '|': case '~':
      return true;
    default:
      return false;
  }
}

bool is_token(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return is_token_char(c); });
}

bool is_http_version(std::string_view v) {
  return v.size() == 8 && v.substr(0, 5) == "HTTP/" && std::isdigit(static_cast<unsigned char>(v[5])) &&
         v[6] == '.' && std::isdigit(static_cast<unsigned char>(v[7]));
}


}  // namespace

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<std::uint64_t> strict_content_length(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;  // "0abc", "0, 27" (two headers joined), signs
    const unsigned d = static_cast<unsigned>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  return value;
}

std::optional<std::uint64_t> parse_uint64(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
    unsigned d = static_cast<unsigned>(text[i] - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  if (digits == 0) return std::nullopt;
  return negative ? std::uint64_t(0) - value : value;
}

HttpMessage HttpMessage::response(int status_code, std::string description, std::string version) {
  HttpMessage m;
  m.response_ = true;
  m.status_ = status_code;
  m.description_ = description.empty() ? std::string(reason_phrase(status_code)) : std::move(description);
  m.version_ = std::move(version);
  m.headers_.reserve(6);  // a response head has a handful of fields
  return m;
}

bool HttpMessage::append_data(std::string_view bytes) {
  if (failed_ || response_) return false;
  if (complete_) {
    body_.append(bytes);
    return true;
  }
  pending_.append(bytes);
  std::size_t start = 0;
  while (!complete_) {
    auto end = pending_.find("\r\n", start);
    if (end == std::string::npos) break;
    if (!parse_line(std::string_view(pending_).substr(start, end - start))) {
      failed_ = true;
      return false;
    }
    start = end + 2;
  }
  if (complete_) body_.append(pending_, start, std::string::npos), pending_.clear();
  else pending_.erase(0, start);
  return true;
}

bool HttpMessage::parse_line(std::string_view line) {
  // Bare CR, LF or NUL inside a line is refused rather than guessed at.
  if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  if (!seen_request_line_) {
    if (line.empty()) return true;  // stray empty lines before a request
    seen_request_line_ = true;
    return parse_request_line(line);
  }
  if (line.empty()) {
    complete_ = true;
    return true;
  }
  return parse_header_line(line);
}

bool HttpMessage::parse_request_line(std::string_view line) {
  auto first = line.find(' ');
  if (first == std::string_view::npos) return false;
  auto second = line.find(' ', first + 1);
  if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) return false;
  auto method = line.substr(0, first);
  auto target = line.substr(first + 1, second - first - 1);
  auto version = line.substr(second + 1);
  if (!is_token(method) || target.empty() || !is_http_version(version)) return false;
  if (std::any_of(target.begin(), target.end(),
                  [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }))
    return false;
  method_ = method;
  url_ = target;
  version_ = version;
  return true;
}

bool HttpMessage::parse_header_line(std::string_view line) {
  if (line.front() == ' ' || line.front() == '\t') return false;  // obsolete folding
  auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  auto name = line.substr(0, colon);
  if (!is_token(name)) return false;
  auto value = trim_ows(line.substr(colon + 1));
  if (std::any_of(value.begin(), value.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
      }))
    return false;
  for (auto& [n, v] : headers_)
    if (equals_ignoring_case(n, name)) {
      v.append(", ").append(value);
      return true;
    }
  headers_.emplace_back(name, value);
  return true;
}

std::optional<std::string> HttpMessage::header_field(std::string_view name) const {
  for (const auto& [n, v] : headers_)
    if (equals_ignoring_case(n, name)) return v;
  return std::nullopt;
}

void HttpMessage::set_header_field(std::string name, std::string value) {
  for (auto& [n, v] : headers_)
    if (equals_ignoring_case(n, name)) {
      v = std::move(value);
      return;
    }
  headers_.emplace_back(std::move(name), std::move(value));
}

std::vector<std::uint8_t> HttpMessage::message_data() const {
  // Written straight into the bytes that go out: one allocation per head.
  std::vector<std::uint8_t> out;
  out.reserve(256 + body_.size());
  auto put = [&out](std::string_view s) { out.insert(out.end(), s.begin(), s.end()); };
  if (response_) {
    char code[16];
    const int n = std::snprintf(code, sizeof code, " %d ", status_);
    put(version_);
    put(std::string_view(code, static_cast<std::size_t>(n)));
    put(description_);
  } else {
    put(method_);
    put(" ");
    put(url_);
    put(" ");
    put(version_);
  }
  put("\r\n");
  for (const auto& [n, v] : headers_) {
    put(n);
    put(": ");
    put(v);
    put("\r\n");
  }
  put("\r\n");
  put(body_);
  return out;
}

std::string_view HttpMessage::reason_phrase(int code) {
  switch (code) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 412: return "Precondition Failed";
    case 414: return "URI Too Long";
    case 416: return "Requested Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

std::string_view trim_ows(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace tavri::http
