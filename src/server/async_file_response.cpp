#include "async_file_response.h"

#include <boost/asio/post.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "file_response.h"
#include "http_log.h"

namespace tavri::http {

std::shared_ptr<AsyncFileResponse> AsyncFileResponse::create(const std::string& path,
                                                             std::shared_ptr<ResponseListener> connection,
                                                             boost::asio::io_context& io) {
  std::string resolved;
  std::uint64_t length = 0;
  if (!file_attributes(path, "AsyncFileResponse", &resolved, &length)) return nullptr;
  return std::shared_ptr<AsyncFileResponse>(new AsyncFileResponse(std::move(connection), resolved, length, io));
}

AsyncFileResponse::AsyncFileResponse(std::shared_ptr<ResponseListener> connection, std::string path,
                                     std::uint64_t length, boost::asio::io_context& io)
    : connection_(std::move(connection)),
      file_path_(std::move(path)),
      file_length_(length),
      queue_(boost::asio::make_strand(io)) {}

AsyncFileResponse::~AsyncFileResponse() {
  if (file_fd_ >= 0) ::close(file_fd_);
}

std::uint64_t AsyncFileResponse::offset() {
  std::lock_guard lock(mutex_);
  return file_offset_;
}

bool AsyncFileResponse::is_done() {
  std::lock_guard lock(mutex_);
  return file_offset_ == file_length_;
}

void AsyncFileResponse::abort_locked() {
  if (aborted_) return;
  aborted_ = true;
  if (connection_) connection_->response_did_abort(this);
}

void AsyncFileResponse::set_offset(std::uint64_t offset) {
  std::lock_guard lock(mutex_);
  file_offset_ = read_offset_ = offset;
  buffered_.clear();
  if (file_fd_ >= 0 && ::lseek(file_fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    log()->error("AsyncFileResponse[{}]: seek failed, errno {}, file {}", static_cast<const void*>(this), errno,
                 file_path_);
    abort_locked();
  }
}

Bytes AsyncFileResponse::read_data(std::uint64_t length) {
  std::lock_guard lock(mutex_);
  if (aborted_) return nullptr;
  if (!buffered_.empty()) {
    auto out = std::make_shared<const std::vector<std::uint8_t>>(std::move(buffered_));
    buffered_.clear();
    file_offset_ += out->size();
    return out;
  }
  wanted_ = length;
  if (!reading_ && read_offset_ < file_length_) {
    reading_ = true;
    boost::asio::post(queue_, [self = shared_from_this()] { self->read_more(); });
  }
  return nullptr;
}

void AsyncFileResponse::read_more() {
  std::unique_lock lock(mutex_);
  reading_ = false;
  if (aborted_ || !connection_) return;
  if (file_fd_ < 0) {
    file_fd_ = ::open(file_path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file_fd_ < 0) {
      log()->error("AsyncFileResponse: cannot open file {}", file_path_);
      abort_locked();
      return;
    }
    if (read_offset_ > 0) ::lseek(file_fd_, static_cast<off_t>(read_offset_), SEEK_SET);
  }
  std::uint64_t n = std::min(wanted_ > buffered_.size() ? wanted_ - buffered_.size() : 0,
                             file_length_ - read_offset_);
  if (n == 0) return;
  std::size_t old = buffered_.size();
  buffered_.resize(old + n);
  ssize_t r = ::read(file_fd_, buffered_.data() + old, n);
  if (r <= 0) {
    buffered_.resize(old);
    if (r < 0) log()->error("AsyncFileResponse: error {} reading file {}", errno, file_path_);
    else log()->error("AsyncFileResponse: file {} ended early", file_path_);
    abort_locked();
    return;
  }
  buffered_.resize(old + static_cast<std::size_t>(r));
  read_offset_ += static_cast<std::uint64_t>(r);
  auto connection = connection_;
  lock.unlock();
  connection->response_has_available_data(this);
}

void AsyncFileResponse::connection_did_close() {
  std::lock_guard lock(mutex_);
  connection_.reset();
}

}  // namespace tavri::http
