#include "file_response.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/open_beneath.h"
#include "http_log.h"
#include "path_mapping.h"
#include "small_file_cache.h"
#include "validators.h"

namespace tavri::http {

bool file_attributes(const std::string& path, const char* component, std::string* resolved, std::uint64_t* length) {
  if (path.empty()) {
    log()->error("{}: no file path", component);
    return false;
  }
  // stat and open follow symbolic links themselves; resolving the path
  // beforehand would cost a system call per path component on every request.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    log()->error("{}: cannot read file attributes: {}", component, std::strerror(errno));
    return false;
  }
  *resolved = path;
  *length = static_cast<std::uint64_t>(st.st_size);
  return true;
}

std::unique_ptr<FileResponse> FileResponse::create(const std::string& path,
                                                   std::shared_ptr<ResponseListener> connection) {
  std::string resolved;
  std::uint64_t length = 0;
  if (!file_attributes(path, "FileResponse", &resolved, &length)) return nullptr;
  return create(std::move(resolved), length, std::move(connection));
}

std::unique_ptr<FileResponse> FileResponse::create(std::string path, std::uint64_t length,
                                                   std::shared_ptr<ResponseListener> connection) {
  return std::unique_ptr<FileResponse>(new FileResponse(std::move(connection), std::move(path), length));
}

std::unique_ptr<FileResponse> FileResponse::open_checked(std::string path, const FileStamp& checked,
                                                        std::string_view document_root,
                                                        std::shared_ptr<ResponseListener> connection) {
  // Non-blocking: a file swapped for a pipe must not hold the thread in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  auto file = std::make_shared<const net::FileHandle>(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_dev) != checked.device ||
      static_cast<std::uint64_t>(st.st_ino) != checked.inode || !open_file_inside(fd, document_root)) {
    log()->warn("FileResponse: {} changed between its check and its open; not served", path);
    return nullptr;
  }
  auto response = create(std::move(path), static_cast<std::uint64_t>(st.st_size), std::move(connection));
  response->file_ = std::move(file);
  response->stamp_ = FileStamp::of(st);
  return response;
}

std::unique_ptr<FileResponse> FileResponse::open_beneath(int folder, std::string full_path, std::size_t root_length,
                                                        SmallFileCache* cache,
                                                        std::shared_ptr<ResponseListener> connection, bool* no_way) {
  *no_way = false;
  auto relative = [&] { return full_path.size() > root_length ? full_path.substr(root_length) : std::string(); };
  struct stat st {};
  // Asked for again: a plain file whose stamp is the one its kept bytes
  // were read under is those bytes, wherever its name leads now.
  if (cache && ::fstatat(folder, full_path.size() > root_length ? full_path.c_str() + root_length : ".", &st,
                         AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) <= SmallFileCache::kLargestFile) {
    const FileStamp stamp = FileStamp::of(st);
    if (Bytes bytes = cache->find(full_path, stamp)) {
      auto response = create(std::move(full_path), static_cast<std::uint64_t>(st.st_size), std::move(connection));
      response->stamp_ = stamp;
      response->cached_ = std::move(bytes);
      return response;
    }
  }
  // Non-blocking: a file swapped for a pipe must not hold the thread in open().
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  int fd = fs::open_beneath(folder, relative(), kFlags);
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    fd = -1;
    const std::string folder_path = full_path.back() == '/' ? full_path : full_path + "/";
    for (const char* index : {"index.html", "index.htm"}) {
      full_path = folder_path + index;
      if ((fd = fs::open_beneath(folder, relative(), kFlags)) >= 0 || errno == ELOOP || errno == EXDEV) break;
    }
  }
  if (fd < 0) {
    // A link the kernel would not follow here (an absolute one, or any
    // without openat2) may still lead inside: the path is checked instead.
    *no_way = errno == ELOOP || errno == EXDEV;
    return nullptr;
  }
  auto file = std::make_shared<const net::FileHandle>(fd);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto response = create(std::move(full_path), static_cast<std::uint64_t>(st.st_size), std::move(connection));
  response->file_ = std::move(file);
  response->stamp_ = FileStamp::of(st);
  if (cache) response->use_cache(*cache, response->stamp_);
  return response;
}

std::string_view FileResponse::content_type() { return content_type_for(file_path_); }

FileResponse::FileResponse(std::shared_ptr<ResponseListener> connection, std::string path, std::uint64_t length)
    : connection_(std::move(connection)), file_path_(std::move(path)), file_length_(length) {}

FileResponse::~FileResponse() = default;

void FileResponse::abort() {
  if (connection_) connection_->response_did_abort(this);
  aborted_ = true;
}

bool FileResponse::open_if_needed() {
  if (aborted_) return false;
  if (file_) return true;
  const int fd = ::open(file_path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) file_ = std::make_shared<const net::FileHandle>(fd);
  if (!file_) {
    log()->error("FileResponse[{}]: cannot open file {}", static_cast<const void*>(this), file_path_);
    abort();
    return false;
  }
  return true;
}

void FileResponse::use_cache(SmallFileCache& cache, const FileStamp& found) {
  if (found.size < 0 || static_cast<std::uint64_t>(found.size) != file_length_ ||
      file_length_ > SmallFileCache::kLargestFile)
    return;
  cache_ = &cache;
  stamp_ = found;
  cached_ = cache.find(file_path_, found);
}

void FileResponse::set_offset(std::uint64_t offset) {
  if (cached_) {
    file_offset_ = std::min(offset, file_length_);
    return;
  }
  if (!open_if_needed()) return;
  file_offset_ = offset;
  if (::lseek(file_->fd(), static_cast<off_t>(offset), SEEK_SET) < 0) {
    log()->error("FileResponse[{}]: seek failed, errno {}, file {}", static_cast<const void*>(this), errno,
                 file_path_);
    abort();
  }
}

Bytes FileResponse::read_data(std::uint64_t length) {
  if (cached_) {
    const std::uint64_t n = std::min(length, file_length_ - file_offset_);
    if (n == 0) return nullptr;
    const std::uint64_t from = file_offset_;
    file_offset_ += n;
    if (n == file_length_) return cached_;
    return std::make_shared<const std::vector<std::uint8_t>>(cached_->begin() + static_cast<std::ptrdiff_t>(from),
                                                             cached_->begin() + static_cast<std::ptrdiff_t>(from + n));
  }
  if (!open_if_needed()) return nullptr;
  std::uint64_t n = std::min(length, file_length_ - file_offset_);
  if (n == 0) return nullptr;
  const bool whole = file_offset_ == 0 && n == file_length_;
  try {
    // Reuse the buffer unless the socket still holds the last slice.
    if (!buffer_ || buffer_.use_count() > 1) buffer_ = std::make_shared<std::vector<std::uint8_t>>();
    buffer_->resize(n);
  } catch (const std::bad_alloc&) {
    log()->error("FileResponse[{}]: cannot allocate buffer", static_cast<const void*>(this));
    abort();
    return nullptr;
  }
  std::uint64_t got = 0;
  while (got < n) {
    ssize_t r = ::read(file_->fd(), buffer_->data() + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      read_failed(r == 0 ? 0 : errno);
      return nullptr;
    }
    got += static_cast<std::uint64_t>(r);
  }
  file_offset_ += got;
  if (whole && cache_) cache_->offer(file_path_, stamp_, file_->fd(), buffer_);
  return buffer_;
}

std::optional<net::FileSlice> FileResponse::file_slice(std::uint64_t length) {
  if (!open_if_needed()) return std::nullopt;
  const std::uint64_t n = std::min(length, file_length_ - file_offset_);
  if (n == 0) return std::nullopt;
  net::FileSlice slice{file_, file_offset_, n};
  file_offset_ += n;
  return slice;
}

void FileResponse::file_slice_failed(int error) {
  if (!aborted_) read_failed(error);
}

void FileResponse::read_failed(int error) {
  if (error == 0) log()->error("FileResponse: file {} ended early", file_path_);
  else log()->error("FileResponse: error {} reading file {}", error, file_path_);
  abort();
}

}  // namespace tavri::http
