#include "fs/open_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tavri::fs {
namespace {

std::atomic<bool> have_openat2{true};

// Without openat2: one component at a time, none of them a link.
int walk_without_links(int folder, const std::string& relative, int flags, mode_t mode) {
  int at = folder;
  std::size_t pos = 0;
  auto done = [&](int fd) {
    if (at != folder) {
      const int saved = errno;
      ::close(at);
      errno = saved;
    }
    return fd;
  };
  while (true) {
    while (pos < relative.size() && relative[pos] == '/') ++pos;
    const std::size_t end = relative.find('/', pos);
    const std::string part = relative.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    std::size_t next = end == std::string::npos ? relative.size() : end;
    while (next < relative.size() && relative[next] == '/') ++next;
    if (part == "..") {
      errno = EXDEV;
      return done(-1);
    }
    if (next >= relative.size())  // the last step
      return done(::openat(at, part.empty() ? "." : part.c_str(), flags | O_NOFOLLOW, mode));
    const int dir = ::openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return done(-1);
    done(0);
    at = dir;
    pos = next;
  }
}

}  // namespace

int open_beneath(int folder, const std::string& relative, int flags, mode_t mode, Links links) {
  if (!relative.empty() && relative.front() == '/') {
    errno = EXDEV;
    return -1;
  }
  const char* path = relative.empty() ? "." : relative.c_str();
  if (have_openat2.load(std::memory_order_relaxed)) {
    open_how how{};
    how.flags = static_cast<unsigned long long>(flags);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | (links == Links::none ? RESOLVE_NO_SYMLINKS : 0);
    for (int attempt = 0; attempt < 8; ++attempt) {
      const long fd = ::syscall(SYS_openat2, folder, path, &how, sizeof how);
      if (fd >= 0) return static_cast<int>(fd);
      if (errno == EAGAIN || errno == EINTR) continue;  // a rename raced the walk
      if (errno != ENOSYS && errno != EPERM && errno != E2BIG) return -1;
      break;  // no openat2 here (an old kernel, or a filter that forbids it)
    }
    if (errno == EAGAIN || errno == EINTR) return -1;
    have_openat2 = false;
  }
  return walk_without_links(folder, relative, flags, mode);
}

void use_openat2(bool use) { have_openat2 = use; }

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<const Descriptor> HeldFolder::at(const std::string& path, long long now_ms) {
  const bool fresh = path == path_ && folder_;
  if (fresh && now_ms >= checked_ms_ && now_ms - checked_ms_ < 1000) return folder_;
  checked_ms_ = now_ms;
  struct stat st {};
  if (fresh && ::stat(path.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) return folder_;
  path_ = path;
  folder_.reset();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  folder_ = std::make_shared<const Descriptor>(fd);
  if (::fstat(fd, &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  return folder_;
}

}  // namespace tavri::fs
