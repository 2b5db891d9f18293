#pragma once
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "file_stamp.h"

// What tells a client whether the file it holds is the one served now,
// and what kind of file it is: pure functions of the file's stamp, its
// name and the request's headers.
namespace tavri::http {

// A strong validator: size, modification time to the nanosecond and inode,
// so a file rewritten in place within one second still gets a new one.
std::string entity_tag(const FileStamp& stamp);

// An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"); nothing for any other
// form, which the conditions then ignore.
std::optional<std::time_t> parse_http_date(std::string_view text);

// If-None-Match: whether one of its tags matches, compared weakly ("W/"
// ignored), or it is "*".
bool none_match_hits(std::string_view header, std::string_view etag);

// Whether a request's conditions make the answer 304: If-None-Match when
// present, otherwise If-Modified-Since against the file's modification time.
bool not_modified(const std::optional<std::string>& if_none_match, const std::optional<std::string>& if_modified_since,
                  std::string_view etag, std::time_t modified);

// If-Range: whether the Range header may be used. A tag must match
// strongly; a date only when it is the file's modification time and that
// lies at least a second before now (a date is not strong enough within
// the second it names).
bool range_applies(std::string_view if_range, std::string_view etag, std::time_t modified, std::time_t now);

// The Content-Type for a file's name, by its extension.
std::string_view content_type_for(std::string_view path);

}  // namespace tavri::http
