#pragma once
#include <string_view>

// The web console's files, built into the binary from web/ so that the
// console works on a LAN without the internet and without a build step.
namespace tavri::api::web {

struct Asset {
  std::string_view path;  // "/main.js"
  std::string_view content_type;
  std::string_view body;
};

// The file for a request path ("/" is "/index.html", "/favicon.ico" the
// icon), or null.
const Asset* find_asset(std::string_view path);

}  // namespace tavri::api::web
