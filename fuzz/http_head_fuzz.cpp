// Feeds arbitrary bytes to the request-head parser the way a connection
// does: one CR LF terminated line at a time, at most 8190 bytes each; then
// the validators' conditions and the type of the target, as a file's
// answer looks at them.
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "server/http_date.h"
#include "server/http_message.h"
#include "server/validators.h"
#include "server/path_mapping.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto request = tavri::http::HttpMessage::empty_request();
  while (!input.empty() && !request.is_header_complete()) {
    auto end = input.find("\r\n");
    std::size_t take = end == std::string_view::npos ? input.size() : end + 2;
    if (take > 8190) take = 8190;
    if (!request.append_data(input.substr(0, take))) return 0;
    input.remove_prefix(take);
  }
  if (request.is_header_complete()) {
    (void)request.header_field("Range");
    (void)request.message_data();
    const tavri::http::FileStamp stamp{4096, 1, 77, 784111777000000000LL, 784111777000000000LL};
    const std::string etag = tavri::http::entity_tag(stamp);
    (void)tavri::http::not_modified(request.header_field("If-None-Match"), request.header_field("If-Modified-Since"),
                                    etag, 784111777);
    if (const auto if_range = request.header_field("If-Range"))
      (void)tavri::http::range_applies(*if_range, etag, 784111777, 784111800);
    if (const auto since = request.header_field("If-Modified-Since"))
      if (const auto t = tavri::http::parse_http_date(*since))
        if (tavri::http::parse_http_date(tavri::http::http_date(*t)) != t) __builtin_trap();  // a date reads back
    if (tavri::http::content_type_for(request.url()).empty()) __builtin_trap();
    auto path = tavri::http::map_request_path("/srv/root", request.url(), true);
    if (path && path->rfind("/srv/root/", 0) != 0) __builtin_trap();  // left the root
    // Whatever exists must also resolve inside the root, links followed.
    if (path) {
      char* resolved = ::realpath(path->c_str(), nullptr);
      const bool outside = resolved && std::string_view(resolved).rfind("/srv/root", 0) != 0;
      std::free(resolved);
      if (outside) __builtin_trap();
    }
  }
  return 0;
}
