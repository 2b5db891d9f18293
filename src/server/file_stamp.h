#pragma once
#include <sys/stat.h>

#include <cstdint>

namespace tavri::http {

// What tells one state of a file from another: a file replaced, rewritten
// or touched gets another inode or another change time.
struct FileStamp {
  long long size = -1;  // -1: nothing there
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  long long mtime_ns = 0;
  long long ctime_ns = 0;

  static long long ns(const struct timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }
  static FileStamp of(const struct stat& st) {
    return {static_cast<long long>(st.st_size), static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino), ns(st.st_mtim), ns(st.st_ctim)};
  }
  bool operator==(const FileStamp&) const = default;
};

}  // namespace tavri::http
