#include "fs/file_beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "fs/open_beneath.h"

namespace tavri {

using fs::Links;
using fs::open_beneath;

namespace {

bool bare(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::string reason() { return std::strerror(errno); }

}  // namespace

FileBeneath::~FileBeneath() { cancel(); }

bool FileBeneath::is_link(const std::string& folder, const std::string& name) {
  struct stat st {};
  return ::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::optional<std::string> FileBeneath::open(const std::string& folder, const std::string& name, bool replace) {
  cancel();
  if (!bare(name)) return error_ = "\"" + name + "\" is not a plain file name";
  folder_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) return error_ = folder + ": " + reason();
  struct stat st {};
  if (::fstatat(folder_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return error_ = "\"" + name + "\" is a link; it is not written through";
    if (!S_ISREG(st.st_mode)) return error_ = "\"" + name + "\" is not a plain file";
    if (!replace) return error_ = "\"" + name + "\" exists";
  }
  name_ = name;
  replace_ = replace;
  std::random_device random;
  for (int attempt = 0; attempt < 16 && file_ < 0; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.part", random());
    temporary_ = "." + name.substr(0, 200) + suffix;
    file_ = open_beneath(folder_, temporary_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644, Links::none);
    if (file_ < 0 && errno != EEXIST) break;
  }
  if (file_ < 0) {
    const std::string why = folder + ": " + reason();
    temporary_.clear();
    cancel();
    return error_ = why;
  }
  return std::nullopt;
}

bool FileBeneath::write(const char* data, std::size_t size) {
  while (size > 0 && file_ >= 0) {
    const ssize_t n = ::write(file_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = reason();
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return file_ >= 0;
}

std::optional<std::string> FileBeneath::commit() {
  if (file_ < 0) return error_.empty() ? "nothing is open" : error_;
  if (::fsync(file_) != 0 || ::close(file_) != 0) {
    file_ = -1;
    error_ = reason();
    cancel();
    return error_;
  }
  file_ = -1;
  // renameat replaces a link put there meanwhile; it never follows one.
  int done = -1;
#ifdef RENAME_NOREPLACE
  if (!replace_) done = ::renameat2(folder_, temporary_.c_str(), folder_, name_.c_str(), RENAME_NOREPLACE);
  else
#endif
    done = ::renameat(folder_, temporary_.c_str(), folder_, name_.c_str());
  if (done != 0) {
    error_ = errno == EEXIST ? "\"" + name_ + "\" exists" : reason();
    cancel();
    return error_;
  }
  temporary_.clear();
  ::fsync(folder_);
  cancel();
  return std::nullopt;
}

void FileBeneath::cancel() {
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  if (folder_ >= 0) {
    if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
    ::close(folder_);
  }
  folder_ = -1;
  temporary_.clear();
}

std::optional<std::string> write_beneath(const std::string& folder, const std::string& name, const std::string& bytes,
                                         bool replace) {
  FileBeneath file;
  if (auto why = file.open(folder, name, replace)) return why;
  if (!file.write(bytes.data(), bytes.size())) return file.error();
  return file.commit();
}

}  // namespace tavri
