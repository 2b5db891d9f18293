#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "file_stamp.h"

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
// found: when given, set to the stamp of the regular file found (size -1
// when the path names none), so the caller need not look at it again.
std::optional<std::string> map_request_path(std::string_view document_root, std::string_view target,
                                            bool allow_directory, PathRefusal* refusal = nullptr,
                                            FileStamp* found = nullptr);

// The path a request target names below the document root, by name alone
// ("." and ".." resolved, nothing looked at on disk); nothing when it
// leaves the root or is not a valid target. The root itself ends in "/".
std::optional<std::string> request_file_path(std::string_view document_root, std::string_view target,
                                             PathRefusal* refusal = nullptr);

// Whether the open file lies inside the document root, as the kernel names
// it now (links and all): what a check of the path before the open cannot
// promise when the folder changes in between. Where /proc is not mounted
// this cannot be known and it says yes.
bool open_file_inside(int fd, std::string_view document_root);

// The path part of a request target, without query and fragment.
std::string_view target_path(std::string_view target);

}  // namespace tavri::http
