#pragma once
#include <sys/types.h>

#include <memory>
#include <string>

// Files opened beneath a folder held open, never anywhere else: the kernel
// resolves every step relative to the folder's descriptor and refuses one
// that leaves it, so no check of a path before the open is needed, and a
// link swapped in meanwhile cannot lead out. Plain POSIX and Linux; no Qt.
namespace tavri::fs {

enum class Links {
  inside,  // followed while they stay beneath the folder
  none,    // every link refused
};

// `relative` (no leading "/") opened beneath `folder` with open(2)'s flags
// and mode. -1 and errno when it cannot be: EXDEV for a step out of the
// folder ("..", an absolute link, a link pointing out), ELOOP for a link
// under Links::none. Where the kernel has no openat2 every link is refused
// (ELOOP), so a caller may then take a slower way that follows them.
int open_beneath(int folder, const std::string& relative, int flags, mode_t mode = 0, Links links = Links::inside);

// Tests take the way of a kernel without openat2 with false.
void use_openat2(bool use);

// An open descriptor, closed when the last holder lets go.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A folder held open by its path, opened again when the path comes to name
// another folder (looked at no more than once a second). Not thread-safe.
class HeldFolder {
 public:
  // The folder at `path` now; null when there is none.
  std::shared_ptr<const Descriptor> at(const std::string& path, long long now_ms);

 private:
  std::string path_;
  std::shared_ptr<const Descriptor> folder_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  long long checked_ms_ = 0;
};

}  // namespace tavri::fs
