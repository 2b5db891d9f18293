# Writes OUTPUT: a C++ file holding each of FILES (under ROOT) as bytes,
# with a lookup by request path. Run at build time: no tool beyond CMake.
set(entries "")
set(arrays "")
set(index 0)
foreach(file IN LISTS FILES)
  file(READ "${ROOT}/${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  get_filename_component(extension "${file}" LAST_EXT)
  set(type "application/octet-stream")
  if(extension STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  endif()
  string(APPEND arrays "const char kFile${index}[] = {${bytes} 0};\n")
  string(APPEND entries "    {\"/${file}\", \"${type}\", {kFile${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by cmake/embed_web.cmake from web/; not to be edited.
#include \"api/web_assets.h\"

namespace tavri::api::web {
namespace {
${arrays}
const Asset kAssets[] = {
${entries}};
}  // namespace

const Asset* find_asset(std::string_view path) {
  if (path == \"/\") path = \"/index.html\";
  if (path == \"/favicon.ico\") path = \"/icon.svg\";
  for (const Asset& asset : kAssets)
    if (asset.path == path) return &asset;
  return nullptr;
}

}  // namespace tavri::api::web
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
