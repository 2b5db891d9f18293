#pragma once
#include "http_response.h"

namespace tavri::http {

// Serves a block of bytes held in memory.
class DataResponse : public HttpResponse {
 public:
  explicit DataResponse(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  std::uint64_t content_length() override { return data_.size(); }
  std::uint64_t offset() override { return offset_; }
  void set_offset(std::uint64_t offset) override { offset_ = std::min<std::uint64_t>(offset, data_.size()); }
  Bytes read_data(std::uint64_t length) override {
    std::uint64_t n = std::min<std::uint64_t>(length, data_.size() - offset_);
    auto begin = data_.begin() + static_cast<std::ptrdiff_t>(offset_);
    offset_ += n;
    return std::make_shared<const std::vector<std::uint8_t>>(begin, begin + static_cast<std::ptrdiff_t>(n));
  }
  bool is_done() override { return offset_ == data_.size(); }

 private:
  std::vector<std::uint8_t> data_;
  std::uint64_t offset_ = 0;
};

}  // namespace tavri::http
