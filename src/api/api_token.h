#pragma once
#include <optional>
#include <string>
#include <string_view>

// The API's bearer token: 256 random bits as 64 hex digits, kept in a file
// that only the service's user can read.
namespace tavri::api {

// Reads the token from `path`, or makes one there when the file does not
// exist. Nothing, with the reason in `error`, when the file cannot be made
// or read, holds no token, or can be read by other users.
std::optional<std::string> load_or_make_token(const std::string& path, std::string& error);

// Compares in time that does not depend on where the two differ.
bool same_token(std::string_view given, std::string_view expected);

}  // namespace tavri::api
