#pragma once
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>

#include "file_stamp.h"
#include "stream_socket.h"

namespace tavri::http {

// The bytes of small files that are asked for again and again (playlists,
// schedules, pictures), so that answering them costs no open, read and
// close. An entry is used only while the file's stamp is the one it was
// read under, and a file is kept only when it has not changed for a while:
// a change right after the look at the file could otherwise share its
// change time with the bytes read before it.
class SmallFileCache {
 public:
  static constexpr std::uint64_t kLargestFile = 65536;
  static constexpr std::size_t kDefaultBytes = 1024 * 1024;
  static constexpr long long kQuietNs = 2'000'000'000LL;

  explicit SmallFileCache(std::size_t capacity = kDefaultBytes, long long quiet_ns = kQuietNs)
      : capacity_(capacity), quiet_ns_(quiet_ns) {}

  // The bytes kept for path, when the file is still what they were read from.
  net::Bytes find(const std::string& path, const FileStamp& stamp);
  // bytes: the whole file, just read from fd under stamp.
  void offer(const std::string& path, const FileStamp& stamp, int fd, net::Bytes bytes);
  std::size_t size_bytes() const;

 private:
  struct Entry {
    FileStamp stamp;
    net::Bytes bytes;
    std::list<std::string>::iterator age;
  };
  void drop(std::unordered_map<std::string, Entry>::iterator it);

  const std::size_t capacity_;
  const long long quiet_ns_;
  mutable std::mutex lock_;
  std::unordered_map<std::string, Entry> entries_;
  std::list<std::string> ages_;  // least recently used first
  std::size_t bytes_ = 0;
};

}  // namespace tavri::http
