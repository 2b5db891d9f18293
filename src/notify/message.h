#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a notification says, and its two forms on the wire: an e-mail
// message (RFC 5322, UTF-8 text) and a webhook's JSON with its signature.
// Pure functions, no network.
namespace tavri::notify {

struct Message {
  std::string kind;     // "offline", "online", "command-failed", "storage", "restore", "test"
  std::string subject;  // one line
  std::string text;     // lines for a person
  std::string json;     // the details as a JSON object, for machines
  std::int64_t time = 0;  // seconds since the epoch
};

// The whole message for SMTP: headers and body, lines ended by CRLF, no
// line longer than the standard allows. Header texts lose any line break
// (no header can be added through a player's name); a subject that is not
// ASCII is encoded (RFC 2047).
std::string mail(const Message& message, std::string_view from, const std::vector<std::string>& to,
                 std::string_view message_id);

// What a webhook posts: {"event", "time", "subject", "text", "details"}.
std::string webhook_body(const Message& message);
// "sha256=" and the hex HMAC-SHA256 of `body` under `secret`.
std::string signature(std::string_view secret, std::string_view body);

// An address a mail may go to or come from: local@domain, no spaces, no
// angle brackets, no line breaks.
bool is_mail_address(std::string_view address);

}  // namespace tavri::notify
