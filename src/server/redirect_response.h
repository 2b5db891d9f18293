#pragma once
#include "http_response.h"

namespace tavri::http {

// A 302 to another path, without a body.
class RedirectResponse : public HttpResponse {
 public:
  explicit RedirectResponse(std::string path) : path_(std::move(path)) {}
  std::uint64_t content_length() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void set_offset(std::uint64_t) override {}
  Bytes read_data(std::uint64_t) override { return nullptr; }
  bool is_done() override { return true; }
  int status() override { return 302; }
  HeaderList http_headers() override { return {{"Location", path_}}; }

 private:
  std::string path_;
};

}  // namespace tavri::http
