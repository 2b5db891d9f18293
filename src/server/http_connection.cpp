#include "http_connection.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <numeric>
#include <random>

#include "file_response.h"
#include "validators.h"
#include "http_date.h"
#include "http_log.h"
#include "http_server.h"
#include "path_mapping.h"

namespace tavri::http {
namespace {

// Socket tags: what a completed read or write means to the connection.
enum Tag : std::int64_t {
  kTagRequestHead = 10,
  kTagFraming = 20,     // a head or framing bytes that are not the last write
  kTagBody = 30,        // a body slice that is not the last write
  kTagFinal = 40,       // the last write of a response
  kTagFinalClose = 41,  // the last write of a 400 or 405
};

std::string new_boundary() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uint64_t hi = random(), lo = random();
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xffff), static_cast<unsigned>(hi & 0xffff),
                static_cast<unsigned>(lo >> 48), static_cast<unsigned long long>(lo & 0xffffffffffffULL));
  return text;
}

bool contains_ignoring_case(std::string_view haystack, std::string_view needle) {
  auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
  return it != haystack.end();
}

std::vector<std::uint8_t> to_bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

std::shared_ptr<HttpConnection> HttpConnection::create(std::shared_ptr<net::StreamSocket> socket, HttpConfig config,
                                                       boost::asio::io_context& io) {
  Strand queue = config.queue ? *config.queue : boost::asio::make_strand(io);
  auto connection = std::shared_ptr<HttpConnection>(new HttpConnection(std::move(socket), std::move(config), queue));
  connection->socket_->set_delegate(connection, connection->connection_queue_);
  return connection;
}

HttpConnection::HttpConnection(std::shared_ptr<net::StreamSocket> socket, HttpConfig config, Strand queue)
    : connection_queue_(std::move(queue)), socket_(std::move(socket)), config_(std::move(config)) {}

HttpConnection::~HttpConnection() {
  if (socket_) {
    socket_->set_delegate({}, {});
    socket_->disconnect();
  }
}

void HttpConnection::start() {
  boost::asio::post(connection_queue_, [self = shared_from_this()] {
    if (self->started_) return;
    self->started_ = true;
    if (self->socket_) self->socket_->set_stall_timeout(self->config_.stall_timeout);
    self->read_request_header();
  });
}

bool HttpConnection::evict() {
  if (evicted_.exchange(true)) return false;
  stop();
  return true;
}

void HttpConnection::stop() {
  boost::asio::post(connection_queue_, [self = shared_from_this()] {
    if (self->socket_) self->socket_->disconnect();
  });
}

bool HttpConnection::supports_method(const std::string& method, const std::string&) {
  return method == "GET" || method == "HEAD";
}

bool HttpConnection::expects_request_body(const std::string& method, const std::string&) {
  return method == "POST" || method == "PUT";
}

std::string HttpConnection::log_name() const {
  char text[48];
  std::snprintf(text, sizeof text, "HttpConnection[%p]", static_cast<const void*>(this));
  return text;
}

std::optional<std::string> HttpConnection::request_uri() const {
  if (request_.url().empty()) return std::nullopt;
  return request_.url();
}

std::string HttpConnection::target_for_log() const { return request_uri().value_or("(null)"); }

// ---- reading the head ----

void HttpConnection::read_request_header() {
  if (!socket_) return;
  // Waiting for a head: its first line comes within a line's time-out
  // (an idle keep-alive connection waits that long); from the first line
  // on, the whole head has its own deadline.
  const auto now = std::chrono::steady_clock::now();
  if (num_header_lines_ == 0 && !awaiting_head_) {
    awaiting_head_ = true;
    if (idle_since_ == 0) idle_since_ = now_ticks();
    head_deadline_ = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(config_.request_timeout));
  }
  const double left = std::chrono::duration<double>(head_deadline_ - now).count();
  if (left <= 0) {
    log()->warn("{}: Request head took too long", log_name());
    socket_->disconnect();
    return;
  }
  socket_->read_lines(net::StreamSocket::crlf(), std::min(config_.request_timeout, left), kMaxLine, kTagRequestHead,
                      true);
}

void HttpConnection::socket_did_read(net::StreamSocket&, net::Bytes data, std::int64_t tag) {
  if (tag != kTagRequestHead || !data) return;
  // A connection stays "in its head" (first to make room at the limit)
  // until the head is complete, however it trickles in.
  if (num_header_lines_ == 0)
    head_deadline_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(config_.head_timeout));
  // The lines that had arrived together, each handled as if read alone.
  std::string_view lines(reinterpret_cast<const char*>(data->data()), data->size());
  while (!lines.empty()) {
    const std::size_t end = lines.find("\r\n");
    const std::size_t length = end == std::string_view::npos ? lines.size() : end + 2;
    const std::string_view line = lines.substr(0, length);
    lines.remove_prefix(length);
    if (!request_.append_data(line)) {
      log()->warn("{}: Malformed request", log_name());
      handle_error(400);
      return;
    }
    if (request_.is_header_complete()) {
      on_head_complete();
      return;
    }
    if (++num_header_lines_ > kMaxHeaderLines) {
      log()->warn("{}: Request head has too many lines", log_name());
      handle_error(431);
      return;
    }
  }
  read_request_header();
}

void HttpConnection::on_head_complete() {
  idle_since_ = 0;
  awaiting_head_ = false;
  if (config_.counters) config_.counters->requests.fetch_add(1, std::memory_order_relaxed);
  const std::string& method = request_.method();
  const std::string uri = target_for_log();
  auto transfer_encoding = request_.header_field("Transfer-Encoding");
  auto content_length = request_.header_field("Content-Length");

  // Framing that two parties could read two ways is refused and the
  // connection closed: otherwise a body could be taken for the next request.
  // (A Content-Length that is not plain digits, "0, 27" from two headers
  // among them, is refused below.)
  const bool ambiguous = (transfer_encoding && content_length) ||
                         (transfer_encoding && !expects_request_body(method, uri));
  if (ambiguous) {
    log()->warn("{}: Conflicting or malformed request body framing", log_name());
    handle_error(400);
    return;
  }

  if (expects_request_body(method, uri)) {
    if (transfer_encoding && equals_ignoring_case(*transfer_encoding, "Chunked")) {
      request_content_length_ = ~std::uint64_t(0);
    } else if (!content_length) {
      log()->warn("{}: Method expects request body, but had no specified Content-Length", log_name());
      handle_error(400);
      return;
    } else if (auto n = strict_content_length(*content_length)) {
      request_content_length_ = *n;
    } else {
      log()->warn("{}: Unable to parse Content-Length header into a valid number", log_name());
      handle_error(400);
      return;
    }
  } else {
    if (content_length) {
      auto n = strict_content_length(*content_length);
      if (!n) {
        log()->warn("{}: Unable to parse Content-Length header into a valid number", log_name());
        handle_error(400);
        return;
      }
      if (*n != 0) {
        log()->warn("{}: Method not expecting request body had non-zero Content-Length", log_name());
        handle_error(400);
        return;
      }
    }
    request_content_length_ = 0;
    request_content_length_received_ = 0;
  }

  if (!supports_method(method, uri)) {
    log()->warn("HTTP Server: Error 405 - Method Not Allowed: {} ({})", method, uri);
    handle_error(405);
    return;
  }
  reply_to_request();
}

// ---- answering ----

void HttpConnection::reply_to_request() {
  const std::string& version = request_.version();
  const std::string uri = target_for_log();
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    log()->warn("HTTP Server: Error 505 - Version Not Supported: {} ({})", version, uri);
    handle_error(505);
    return;
  }
  auto upgrade = request_.header_field("Upgrade");
  auto connection = request_.header_field("Connection");
  if (upgrade && equals_ignoring_case(*upgrade, "WebSocket") && connection &&
      contains_ignoring_case(*connection, "Upgrade")) {
    handle_error(404);
    return;
  }
  http_response_ = response_for(request_.method(), uri);
  if (!http_response_) {
    handle_error(404);
    return;
  }
  is_head_ = request_.method() == "HEAD";
  send_response_headers_and_body();
}

std::optional<std::string> HttpConnection::file_path_for_uri(const std::string& uri, bool allow_directory,
                                                             FileStamp* found) {
  PathRefusal refusal = PathRefusal::none;
  auto path = map_request_path(config_.document_root, uri, allow_directory, &refusal, found);
  log_refusal(refusal);
  return path;
}

void HttpConnection::log_refusal(PathRefusal refusal) {
  switch (refusal) {
    case PathRefusal::no_root: log()->warn("{}: No configured document root", log_name()); break;
    case PathRefusal::invalid_root: log()->warn("{}: Document root is invalid file path", log_name()); break;
    case PathRefusal::outside_root: log()->warn("{}: Request for file outside document root", log_name()); break;
    default: break;
  }
}

std::unique_ptr<HttpResponse> HttpConnection::response_for(const std::string&, const std::string& uri) {
  if (config_.folder) {
    PathRefusal refusal = PathRefusal::none;
    auto full = request_file_path(config_.document_root, uri, &refusal);
    log_refusal(refusal);
    if (!full) return nullptr;
    bool no_way = false;
    auto response = FileResponse::open_beneath(config_.folder->fd(), std::move(*full), config_.document_root.size(),
                                               config_.small_files.get(), shared_from_this(), &no_way);
    if (!no_way) return response;
  }
  // Where the kernel cannot open beneath a folder: the path is checked, and
  // the file opened is checked to be the one looked at.
  FileStamp found;  // read by the mapping itself: one look at the file per request
  auto path = file_path_for_uri(uri, false, &found);
  if (!path || found.size < 0) return nullptr;
  // The file is opened now, and only the file that was checked is served.
  auto response = FileResponse::open_checked(std::move(*path), found, config_.document_root, shared_from_this());
  if (!response) return nullptr;
  if (config_.small_files) response->use_cache(*config_.small_files, *response->stamp());
  return response;
}

void HttpConnection::add_standard_headers(HttpMessage& head) {
  head.set_header_field("Date", http_date_now());
  head.set_header_field("Accept-Ranges", "bytes");
  if (http_response_)
    for (auto& [name, value] : http_response_->http_headers()) head.set_header_field(name, value);
}

void HttpConnection::handle_error(int code) {
  if (code == 400) log()->warn("HTTP Server: Error 400 - Bad Request ({})", target_for_log());
  // Kept for the operator's log file: a player asking for a file that is not there.
  if (code == 404) log()->info("HTTP Server: Error 404 - Not Found ({})", target_for_log());
  HttpMessage head = HttpMessage::response(code);
  head.set_header_field("Date", http_date_now());
  head.set_header_field("Accept-Ranges", "bytes");
  head.set_header_field("Content-Length", "0");
  bool close = code == 400 || code == 405 || code == 414 || code == 431;
  if (close) head.set_header_field("Connection", "close");
  write_framing(head.message_data(), close ? kTagFinalClose : kTagFinal);
}

void HttpConnection::submit(net::StreamSocket::WriteRequest write) {
  if (batch_) batch_->push_back(std::move(write));
  else if (socket_) socket_->write({std::move(write)});
}

void HttpConnection::write_framing(std::vector<std::uint8_t> bytes, std::int64_t tag) {
  // Heads and part heads that are not the last write need no word back.
  submit({std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), config_.request_timeout, tag, {},
          tag != kTagFraming});
}

void HttpConnection::write_framing(const std::string& text, std::int64_t tag) { write_framing(to_bytes(text), tag); }

// Plain file bodies go out as file slices, which the kernel sends from the
// page cache: no buffer per download. Multipart bodies, other responses and
// small files are read into memory: for a few kilobytes, one read and one
// gathered send with the head cost less than the kernel's splicing.
net::StreamSocket::WriteRequest HttpConnection::next_body(std::uint64_t length) {
  net::StreamSocket::WriteRequest body;
  HttpResponse& r = *http_response_;
  if (r.sends_file_slices() && r.content_length() > kSmallBody) {
    if (auto slice = r.file_slice(length)) body.file = std::move(*slice);
  } else {
    body.data = r.read_data(length);
  }
  return body;
}

void HttpConnection::write_body(net::StreamSocket::WriteRequest body, bool final) {
  if (body.size() == 0 || !socket_) return;
  response_data_sizes_.push_back(body.size());
  if (config_.counters) config_.counters->body_bytes.fetch_add(body.size(), std::memory_order_relaxed);
  body.timeout = -1;
  body.tag = final ? kTagFinal : kTagBody;
  submit(std::move(body));
}

std::uint64_t HttpConnection::queued_body() const {
  return std::accumulate(response_data_sizes_.begin(), response_data_sizes_.end(), std::uint64_t(0));
}

void HttpConnection::send_response_headers_and_body() {
  HttpResponse& r = *http_response_;
  const std::uint64_t length = r.content_length();
  ranges_.reset();
  // A file's validators: a client holding the same file is told so (304),
  // and a resumed download of a file since rewritten gets it whole.
  const FileStamp* stamp = r.stamp();
  std::string etag;
  std::time_t modified = 0;
  if (stamp) {
    etag = entity_tag(*stamp);
    modified = static_cast<std::time_t>(stamp->mtime_ns / 1000000000LL);
    if (not_modified(request_.header_field("If-None-Match"), request_.header_field("If-Modified-Since"), etag,
                     modified)) {
      HttpMessage head = HttpMessage::response(304);
      head.set_header_field("Date", http_date_now());
      head.set_header_field("ETag", etag);
      head.set_header_field("Last-Modified", http_date(modified));
      sent_response_headers_ = true;
      write_framing(head.message_data(), kTagFinal);
      return;
    }
  }
  if (auto header = request_.header_field("Range")) {
    const auto if_range = request_.header_field("If-Range");
    if (!if_range || (stamp && range_applies(*if_range, etag, modified, std::time(nullptr))))
      ranges_ = parse_range_request(*header, length);
  }

  HttpMessage head = HttpMessage::response(ranges_ ? 206 : r.status());
  add_standard_headers(head);
  if (stamp) {
    head.set_header_field("Last-Modified", http_date(modified));
    head.set_header_field("ETag", etag);
  }
  if (!r.content_type().empty() && (!ranges_ || ranges_->size() == 1))
    head.set_header_field("Content-Type", std::string(r.content_type()));
  if (ranges_ && ranges_->size() == 1) {
    head.set_header_field("Content-Length", std::to_string(ranges_->front().length));
    head.set_header_field("Content-Range", content_range(ranges_->front(), length));
  } else if (ranges_) {
    ranges_boundary_ = new_boundary();
    ranges_headers_.clear();
    std::uint64_t total = 0;
    for (const ByteRange& range : *ranges_) {
      std::string part = "\r\n--" + ranges_boundary_ + "\r\n" + "Content-Range: " + content_range(range, length) +
                         "\r\n\r\n";
      total += part.size() + range.length;
      ranges_headers_.push_back(to_bytes(part));
    }
    total += ("\r\n--" + ranges_boundary_ + "--\r\n").size();
    head.set_header_field("Content-Type", "multipart/byteranges; boundary=" + ranges_boundary_);
    head.set_header_field("Content-Length", std::to_string(total));
  } else {
    head.set_header_field("Content-Length", std::to_string(length));
  }
  range_index_ = 0;
  sent_response_headers_ = true;

  if (is_head_ || length == 0) {
    write_framing(head.message_data(), kTagFinal);
    return;
  }

  // The first slice is taken before the head is handed over, so that the
  // head and the slice reach the socket together and leave in one call.
  net::StreamSocket::WriteRequest first;
  bool final = false;
  if (ranges_ && ranges_->size() == 1) {
    const ByteRange& range = ranges_->front();
    r.set_offset(range.location);
    first = next_body(std::min(range.length, kSliceSize));
    final = first.size() == range.length;
  } else if (ranges_) {
    r.set_offset(ranges_->front().location);
    first.data = r.read_data(std::min(ranges_->front().length, kSliceSize));
  } else {
    first = next_body(kSliceSize);
    final = r.is_done();
  }
  std::vector<net::StreamSocket::WriteRequest> batch;
  batch_ = &batch;
  write_framing(head.message_data(), kTagFraming);
  if (ranges_ && ranges_->size() > 1) write_framing(ranges_headers_.front(), kTagFraming);
  write_body(std::move(first), final);
  batch_ = nullptr;
  if (socket_) socket_->write(std::move(batch));
}

void HttpConnection::continue_body() {
  if (!http_response_ || !sent_response_headers_ || is_head_ || !socket_) return;
  HttpResponse& r = *http_response_;
  const std::uint64_t queued = queued_body();
  if (queued >= kSliceSize) return;
  const std::uint64_t room = kSliceSize - queued;

  if (!ranges_) {
    if (r.is_done()) return;
    auto body = next_body(room);
    write_body(std::move(body), r.is_done());
    return;
  }
  if (range_index_ >= static_cast<std::int32_t>(ranges_->size())) return;  // closing boundary already out
  const ByteRange& range = (*ranges_)[static_cast<std::size_t>(range_index_)];
  const std::uint64_t left = range.length - (r.offset() - range.location);
  if (left > 0) {
    const bool single = ranges_->size() == 1;
    net::StreamSocket::WriteRequest body;
    if (single) body = next_body(std::min(left, room));
    else body.data = r.read_data(std::min(left, room));
    const bool final = single && body.size() == left;
    write_body(std::move(body), final);
    return;
  }
  if (ranges_->size() == 1) return;
  if (++range_index_ >= static_cast<std::int32_t>(ranges_->size())) {
    write_framing("\r\n--" + ranges_boundary_ + "--\r\n", kTagFinal);
    return;
  }
  const ByteRange& next = (*ranges_)[static_cast<std::size_t>(range_index_)];
  write_framing(ranges_headers_[static_cast<std::size_t>(range_index_)], kTagFraming);
  r.set_offset(next.location);
  net::StreamSocket::WriteRequest body;
  body.data = r.read_data(std::min(next.length, room));
  write_body(std::move(body), false);
}

// ---- completions ----

void HttpConnection::slice_confirmed() {
  if (!response_data_sizes_.empty()) response_data_sizes_.pop_front();
}

void HttpConnection::socket_did_write(net::StreamSocket&, std::int64_t tag) {
  switch (tag) {
    case kTagBody:
      slice_confirmed();
      continue_body();
      break;
    case kTagFinal:
      finish_response();
      break;
    case kTagFinalClose:
      slice_confirmed();
      clear_response_state();
      if (socket_) socket_->disconnect();
      break;
    default:
      break;
  }
}

void HttpConnection::clear_response_state() {
  request_ = HttpMessage::empty_request();
  http_response_.reset();
  ranges_.reset();
  ranges_headers_.clear();
  ranges_boundary_.clear();
  response_data_sizes_.clear();
}

void HttpConnection::finish_response() {
  slice_confirmed();
  if (http_response_) http_response_->connection_did_close();

  bool close = false;
  auto connection = request_.header_field("Connection");
  if (request_.version() == "HTTP/1.1") close = connection && equals_ignoring_case(*connection, "close");
  else if (request_.version() == "HTTP/1.0") close = !connection || !equals_ignoring_case(*connection, "Keep-Alive");

  clear_response_state();
  if (close) {
    if (socket_) socket_->disconnect();
    return;
  }
  num_header_lines_ = 0;
  sent_response_headers_ = false;
  is_head_ = false;
  read_request_header();
}

// Announcements are queued here and heeded only from the current response.
template <typename Fn>
void HttpConnection::when_current(HttpResponse* response, const char* announcement, Fn&& fn) {
  boost::asio::post(connection_queue_, [self = shared_from_this(), response, announcement, fn = std::forward<Fn>(fn)] {
    if (response != self->http_response_.get()) {
      log()->warn("{}: {} - announcement from a response that is not the current one", self->log_name(),
                  announcement);
      return;
    }
    fn(*self);
  });
}

void HttpConnection::response_did_abort(HttpResponse* response) {
  when_current(response, "response_did_abort", [](HttpConnection& c) {
    if (c.socket_) c.socket_->disconnect_after_writing();
  });
}

// A head line longer than any we take: the client hears which, then the
// connection closes (what follows on it cannot be read as a request).
void HttpConnection::socket_did_overflow(net::StreamSocket& socket, std::int64_t tag) {
  if (tag != kTagRequestHead) return socket.disconnect();
  log()->warn("{}: Request {} too long", log_name(), request_.has_request_line() ? "header line" : "target");
  handle_error(request_.has_request_line() ? 431 : 414);
}

void HttpConnection::socket_did_disconnect(net::StreamSocket&, const std::optional<net::StreamError>& error) {
  if (died_) return;
  died_ = true;
  socket_.reset();
  // A file slice that could not be sent whole is the response's failure.
  if (error && http_response_ && error->domain == net::kStreamErrorDomain &&
      (error->code == net::kFileEnded || error->code == net::kFileUnreadable))
    http_response_->file_slice_failed(error->system_code);
  if (http_response_) http_response_->connection_did_close();
  http_response_.reset();
  if (auto server = config_.server.lock()) server->connection_did_die(this);
}

}  // namespace tavri::http
