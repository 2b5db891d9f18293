#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_stamp.h"
#include "stream_socket.h"

namespace tavri::http {

using net::Bytes;
using HeaderList = std::vector<std::pair<std::string, std::string>>;

class HttpResponse;

// What a response tells its connection, queued onto the connection's
// queue, never run in the caller's thread.
class ResponseListener {
 public:
  virtual ~ResponseListener() = default;
  virtual void response_did_abort(HttpResponse* response) = 0;
};

// The source of one response's status, extra headers and body.
class HttpResponse {
 public:
  virtual ~HttpResponse() = default;
  virtual std::uint64_t content_length() = 0;
  virtual std::uint64_t offset() = 0;
  virtual void set_offset(std::uint64_t offset) = 0;
  // Up to length bytes from the current position; null or empty when
  // nothing is available now or on failure.
  virtual Bytes read_data(std::uint64_t length) = 0;
  virtual bool is_done() = 0;
  // Responses backed by a plain file may hand out slices of it instead of
  // bytes: up to length bytes from the current position, which then moves
  // on; nothing on failure or at the end.
  virtual bool sends_file_slices() { return false; }
  virtual std::optional<net::FileSlice> file_slice(std::uint64_t /*length*/) { return std::nullopt; }
  // A slice could not be sent whole: 0 when the file ended early, otherwise
  // the system error of reading it.
  virtual void file_slice_failed(int /*error*/) {}

  // What validators and type a file's answer carries; none by default.
  virtual const FileStamp* stamp() { return nullptr; }
  virtual std::string_view content_type() { return {}; }

  virtual int status() { return 200; }
  virtual HeaderList http_headers() { return {}; }
  virtual void connection_did_close() {}
};

}  // namespace tavri::http
