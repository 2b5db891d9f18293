#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "byte_range.h"
#include "file_stamp.h"
#include "http_config.h"
#include "http_message.h"
#include "http_response.h"
#include "path_mapping.h"
#include "stream_socket.h"

namespace tavri::http {

// Serves one player's TCP connection: reads request heads line by line,
// answers GET and HEAD with files below the document root (byte ranges
// included), sends bodies in bounded slices, and keeps the connection for
// the next request or closes it.
class HttpConnection : public net::StreamSocketDelegate,
                       public ResponseListener,
                       public std::enable_shared_from_this<HttpConnection> {
 public:
  static constexpr std::size_t kMaxLine = 8190;
  static constexpr unsigned kMaxHeaderLines = 100;
  static constexpr std::uint64_t kSliceSize = 524288;
  static constexpr std::uint64_t kSmallBody = 65536;

  static std::shared_ptr<HttpConnection> create(std::shared_ptr<net::StreamSocket> socket, HttpConfig config,
                                                boost::asio::io_context& io);
  ~HttpConnection() override;

  void start();
  void stop();
  // Since when the connection waits for a request or reads its head
  // (steady clock ticks), or 0 while it answers one. Read from any thread.
  std::int64_t idle_since() const { return idle_since_; }
  static std::int64_t now_ticks() {
    return std::max<std::int64_t>(std::chrono::steady_clock::now().time_since_epoch().count(), 1);
  }
  // Closes an idle connection to make room for a new one; false when that
  // was already asked.
  bool evict();
  bool evicting() const { return evicted_; }

  static bool supports_method(const std::string& method, const std::string& path);
  static bool expects_request_body(const std::string& method, const std::string& path);

  void response_did_abort(HttpResponse* response) override;

  void socket_did_read(net::StreamSocket& socket, net::Bytes data, std::int64_t tag) override;
  void socket_did_write(net::StreamSocket& socket, std::int64_t tag) override;
  void socket_did_overflow(net::StreamSocket& socket, std::int64_t tag) override;
  void socket_did_disconnect(net::StreamSocket& socket, const std::optional<net::StreamError>& error) override;

 private:
  using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
  HttpConnection(std::shared_ptr<net::StreamSocket> socket, HttpConfig config, Strand queue);

  std::optional<std::string> request_uri() const;
  void log_refusal(PathRefusal refusal);
  std::optional<std::string> file_path_for_uri(const std::string& uri, bool allow_directory,
                                               FileStamp* found = nullptr);
  std::unique_ptr<HttpResponse> response_for(const std::string& method, const std::string& uri);

  void read_request_header();
  std::chrono::steady_clock::time_point head_deadline_{};
  void on_head_complete();
  void reply_to_request();
  void handle_error(int code);
  void send_response_headers_and_body();
  void continue_body();
  void finish_response();
  void clear_response_state();
  void slice_confirmed();  // the oldest unconfirmed body slice went out
  template <typename Fn>
  void when_current(HttpResponse* response, const char* announcement, Fn&& fn);

  void submit(net::StreamSocket::WriteRequest write);
  net::StreamSocket::WriteRequest next_body(std::uint64_t length);
  void write_framing(std::vector<std::uint8_t> bytes, std::int64_t tag);
  void write_framing(const std::string& text, std::int64_t tag);
  void write_body(net::StreamSocket::WriteRequest body, bool final);
  void add_standard_headers(HttpMessage& head);
  std::uint64_t queued_body() const;
  std::string log_name() const;
  std::string target_for_log() const;

  Strand connection_queue_;
  std::shared_ptr<net::StreamSocket> socket_;
  HttpConfig config_;
  bool started_ = false;
  HttpMessage request_ = HttpMessage::empty_request();
  std::uint32_t num_header_lines_ = 0;
  bool sent_response_headers_ = false;
  std::unique_ptr<HttpResponse> http_response_;
  std::optional<std::vector<ByteRange>> ranges_;
  std::vector<std::vector<std::uint8_t>> ranges_headers_;
  std::string ranges_boundary_;
  std::int32_t range_index_ = 0;
  std::uint64_t request_content_length_ = 0;
  std::uint64_t request_content_length_received_ = 0;
  std::deque<std::uint64_t> response_data_sizes_;
  // While set, writes are collected here and handed to the socket together.
  std::vector<net::StreamSocket::WriteRequest>* batch_ = nullptr;
  bool is_head_ = false;
  bool died_ = false;
  bool awaiting_head_ = false;
  // Since when the connection waits for a request: from its accept on, so
  // that the oldest is the first to make room even before its thread starts.
  std::atomic<std::int64_t> idle_since_{now_ticks()};
  std::atomic<bool> evicted_{false};
};

}  // namespace tavri::http
