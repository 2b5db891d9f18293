#pragma once
#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>
#include <mutex>

#include "http_response.h"

namespace tavri::http {

// A file response whose reads happen on its own queue: read_data hands out
// what was read since the last call, or starts a read and returns nothing;
// the connection is told when bytes arrive.
class AsyncFileResponse : public HttpResponse, public std::enable_shared_from_this<AsyncFileResponse> {
 public:
  static std::shared_ptr<AsyncFileResponse> create(const std::string& path,
                                                   std::shared_ptr<ResponseListener> connection,
                                                   boost::asio::io_context& io);
  ~AsyncFileResponse() override;

  std::uint64_t content_length() override { return file_length_; }
  std::uint64_t offset() override;
  void set_offset(std::uint64_t offset) override;
  Bytes read_data(std::uint64_t length) override;
  bool is_done() override;
  void connection_did_close() override;

 protected:
  AsyncFileResponse(std::shared_ptr<ResponseListener> connection, std::string path, std::uint64_t length,
                    boost::asio::io_context& io);
  void read_more();  // on the queue
  void abort_locked();

  std::mutex mutex_;
  std::shared_ptr<ResponseListener> connection_;
  std::string file_path_;
  std::uint64_t file_length_;
  std::uint64_t file_offset_ = 0;  // handed out
  std::uint64_t read_offset_ = 0;  // read from the file
  std::uint64_t wanted_ = 0;
  bool reading_ = false;
  bool aborted_ = false;
  int file_fd_ = -1;
  std::vector<std::uint8_t> buffered_;
  boost::asio::strand<boost::asio::io_context::executor_type> queue_;
};

}  // namespace tavri::http
