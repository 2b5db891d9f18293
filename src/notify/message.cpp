#include "notify/message.h"

#include <sodium.h>

#include <ctime>
#include <nlohmann/json.hpp>

namespace tavri::notify {

namespace {

std::string one_line(std::string_view text) {
  std::string out;
  for (char c : text) out += (c == '\r' || c == '\n' || c == '\0') ? ' ' : c;
  return out;
}

bool ascii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::string base64(std::string_view bytes) {
  std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.pop_back();
  return out;
}

// "=?UTF-8?B?...?=" words of at most 75 characters, cut between characters.
std::string encoded_words(std::string_view text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = std::min(text.size(), at + 45);
    while (end < text.size() && end > at && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + base64(text.substr(at, end - at)) + "?=";
    at = end;
  }
  return out;
}

std::string date_header(std::int64_t seconds) {
  const std::time_t t = seconds;
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
  return text;
}

// The body's lines, CRLF ended; a long line is broken at a space where it
// can be, and hard at 900 bytes (SMTP allows 998).
std::string body_lines(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (line.size() > 900) {
      std::size_t cut = line.rfind(' ', 900);
      if (cut == std::string_view::npos || cut == 0) cut = 900;
      while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      out.append(line.substr(0, cut)).append("\r\n");
      line.remove_prefix(cut);
    }
    out.append(line).append("\r\n");
    if (end == text.size()) break;
    start = end + 1;
  }
  return out;
}

}  // namespace

bool is_mail_address(std::string_view address) {
  const auto at = address.find('@');
  if (address.empty() || address.size() > 254 || at == 0 || at == std::string_view::npos || at + 1 >= address.size() ||
      address.find('@', at + 1) != std::string_view::npos)
    return false;
  for (unsigned char c : address)
    if (c <= ' ' || c == '<' || c == '>' || c == ',' || c == ';' || c == '"' || c == '(' || c == ')' || c >= 0x7F)
      return false;
  return true;
}

std::string mail(const Message& message, std::string_view from, const std::vector<std::string>& to,
                 std::string_view message_id) {
  std::string to_line;
  for (const auto& address : to) to_line += (to_line.empty() ? "" : ", ") + one_line(address);
  const std::string subject = one_line(message.subject);
  std::string out;
  out += "Date: " + date_header(message.time) + "\r\n";
  out += "From: " + one_line(from) + "\r\n";
  out += "To: " + to_line + "\r\n";
  out += "Message-ID: <" + one_line(message_id) + ">\r\n";
  out += "Subject: " + (ascii(subject) ? subject : encoded_words(subject)) + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  out += "Content-Type: text/plain; charset=utf-8\r\n";
  out += "Content-Transfer-Encoding: 8bit\r\n";
  out += "Auto-Submitted: auto-generated\r\n";
  out += "\r\n";
  out += body_lines(message.text);
  return out;
}

std::string webhook_body(const Message& message) {
  char when[32];
  const std::time_t t = message.time;
  std::tm utc{};
  gmtime_r(&t, &utc);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
  auto details = nlohmann::json::parse(message.json.empty() ? "{}" : message.json, nullptr, false);
  if (details.is_discarded()) details = nlohmann::json::object();
  // Texts from players may hold any bytes: replaced, not thrown on.
  return nlohmann::json{{"event", message.kind}, {"time", when}, {"subject", message.subject}, {"text", message.text},
                        {"details", details}}
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string signature(std::string_view secret, std::string_view body) {
  crypto_auth_hmacsha256_state state;
  unsigned char mac[crypto_auth_hmacsha256_BYTES];
  crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
  crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(body.data()), body.size());
  crypto_auth_hmacsha256_final(&state, mac);
  char hex[sizeof mac * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, mac, sizeof mac);
  return std::string("sha256=") + hex;
}

}  // namespace tavri::notify
