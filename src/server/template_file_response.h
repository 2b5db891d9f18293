#pragma once
#include <map>

#include "async_file_response.h"

namespace tavri::http {

// A text file served with separator+key+separator patterns replaced by the
// values of a dictionary, chunked since its length is not known ahead.
class TemplateFileResponse : public AsyncFileResponse {
 public:
  static std::shared_ptr<TemplateFileResponse> create(const std::string& path,
                                                      std::shared_ptr<ResponseListener> connection,
                                                      boost::asio::io_context& io, std::string separator,
                                                      std::map<std::string, std::string> replacements);

  std::uint64_t content_length() override { return 0; }
  void set_offset(std::uint64_t) override {}
  bool is_chunked() override { return true; }
  Bytes read_data(std::uint64_t length) override;
  bool is_done() override;

 private:
  TemplateFileResponse(std::shared_ptr<ResponseListener> connection, std::string path, std::uint64_t length,
                       boost::asio::io_context& io, std::string separator,
                       std::map<std::string, std::string> replacements);
  // Replaces every complete pattern of text; keeps back a pattern cut by
  // the end of the block unless this is the end of the file.
  std::string substitute(std::string text, bool at_end);

  std::string separator_;
  std::map<std::string, std::string> replacements_;
  std::string held_;
};

}  // namespace tavri::http
