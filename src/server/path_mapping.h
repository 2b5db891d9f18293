#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tavri::http {

// "~" expanded, "." and ".." resolved by name, repeated and trailing "/"
// removed.
std::string standardize_path(std::string_view path);

// The standardised root with one "/" at its end.
std::string document_root_with_slash(std::string_view root);

enum class PathRefusal { none, no_root, invalid_root, outside_root, bad_target };

// A request target mapped below the document root; nothing when it leaves
// the root or cannot be read. Without allow_directory a folder maps to its
// index file, or to nothing.
// size: when given, set to the size of the file found (-1 when the path
// names nothing), so the caller need not look at the file again.
std::optional<std::string> map_request_path(std::string_view document_root, std::string_view target,
                                            bool allow_directory, PathRefusal* refusal = nullptr,
                                            long long* size = nullptr);

// The path part of a request target, without query and fragment.
std::string_view target_path(std::string_view target);

}  // namespace tavri::http
