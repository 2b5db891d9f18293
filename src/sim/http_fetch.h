#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace tavri::sim {

// One HTTP/1.1 GET on its own connection, the body handed over in pieces.
// A body that breaks off is asked for again from where it stopped (a Range
// request), up to `attempts` times in all.
struct FetchResult {
  bool ok = false;
  int status = 0;
  std::uint64_t bytes = 0;   // body bytes received, over every attempt
  int retries = 0;           // attempts after the first
  std::string error;         // why it failed
  std::string etag;          // the file's validator, when the server gave one
  bool not_modified = false; // 304: the copy held (by `held_etag`) is current
};

using BodySink = std::function<void(const char* data, std::size_t size)>;

// With `held_etag`, the file is asked for only if it changed (If-None-Match);
// a resumed body is asked for only if it is still the same file (If-Range).
FetchResult http_get(const std::string& host, std::uint16_t port, const std::string& path, const BodySink& sink,
                     int attempts = 5, int timeout_seconds = 30, const std::string& held_etag = {});

// The path of a file name in a request: every byte but unreserved ones escaped.
std::string escape_path(const std::string& file_name);

// 64-bit FNV-1a, fed in pieces: what the report gives for each file.
struct Fnv64 {
  std::uint64_t value = 1469598103934665603ull;
  void add(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) value = (value ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
  }
};

}  // namespace tavri::sim
