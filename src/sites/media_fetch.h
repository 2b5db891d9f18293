#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// A medium a hub's request names: fetched over HTTP(S) from the hub's
// origin, and used only once its SHA-256 is the one the hub signed.
namespace tavri::sites {

struct Media {
  std::string url;     // http:// or https://
  std::string name;    // the file's name in the content folder
  std::uint64_t size = 0;
  std::string sha256;  // 64 lowercase hex digits
};

// Why `media` cannot be a request's medium; empty when it can.
std::string media_problem(const Media& media);

struct FetchOptions {
  int attempts = 5;              // a broken transfer resumes where it stopped
  long connect_timeout_s = 15;
  long stall_timeout_s = 60;     // slower than 1 byte/s this long: broken
  std::string ca_file;           // empty: the system's authorities
  const std::atomic<bool>* cancel = nullptr;
};

// Streams the medium into `write` (false stops it), resuming with a Range
// after a broken transfer. The error, or empty once exactly `size` bytes
// came and their SHA-256 is the one expected.
std::string fetch(const Media& media, const std::function<bool(const char*, std::size_t)>& write,
                  const FetchOptions& options);

// A file's SHA-256 as hex; empty when it cannot be read.
std::string sha256_of_file(const std::string& path);

}  // namespace tavri::sites
