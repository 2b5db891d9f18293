#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Small files that hold secrets (accounts, notification settings): only
// the owner may read them, a new one is written beside the old and renamed
// over it (a crash leaves one of the two whole), and a link in their place
// is never followed. Plain POSIX.
namespace tavri {

// The reason it could not be written, or nothing.
std::optional<std::string> write_private_file(const std::string& path, std::string_view text);
// Its text, at most `most` bytes; empty when it is missing or unreadable.
std::string read_private_file(const std::string& path, std::size_t most = std::size_t(4) << 20);

}  // namespace tavri
