#pragma once
#include <unistd.h>

#include <cstdint>
#include <memory>

namespace tavri::net {

// An open file descriptor, closed when the last holder lets go: a response
// and the socket still sending its slice share one descriptor.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Bytes of an open file that the kernel copies to the socket by itself.
struct FileSlice {
  std::shared_ptr<const FileHandle> file;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

}  // namespace tavri::net
