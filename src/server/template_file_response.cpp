#include "template_file_response.h"

#include "file_response.h"

namespace tavri::http {

std::shared_ptr<TemplateFileResponse> TemplateFileResponse::create(
    const std::string& path, std::shared_ptr<ResponseListener> connection, boost::asio::io_context& io,
    std::string separator, std::map<std::string, std::string> replacements) {
  std::string resolved;
  std::uint64_t length = 0;
  if (separator.empty() || !file_attributes(path, "TemplateFileResponse", &resolved, &length)) return nullptr;
  return std::shared_ptr<TemplateFileResponse>(new TemplateFileResponse(
      std::move(connection), resolved, length, io, std::move(separator), std::move(replacements)));
}

TemplateFileResponse::TemplateFileResponse(std::shared_ptr<ResponseListener> connection, std::string path,
                                           std::uint64_t length, boost::asio::io_context& io,
                                           std::string separator, std::map<std::string, std::string> replacements)
    : AsyncFileResponse(std::move(connection), std::move(path), length, io),
      separator_(std::move(separator)),
      replacements_(std::move(replacements)) {}

bool TemplateFileResponse::is_done() { return AsyncFileResponse::is_done() && held_.empty(); }

Bytes TemplateFileResponse::read_data(std::uint64_t length) {
  while (true) {
    Bytes raw = AsyncFileResponse::read_data(length);
    bool at_end = AsyncFileResponse::is_done();
    if ((!raw || raw->empty()) && !(at_end && !held_.empty())) return nullptr;
    std::string text = held_;
    held_.clear();
    if (raw) text.append(raw->begin(), raw->end());
    std::string out = substitute(std::move(text), at_end);
    if (!out.empty()) return std::make_shared<const std::vector<std::uint8_t>>(out.begin(), out.end());
    if (at_end && held_.empty()) return nullptr;
    // Everything was kept back: ask for the next block at once.
  }
}

std::string TemplateFileResponse::substitute(std::string text, bool at_end) {
  std::string out;
  out.reserve(text.size() + 256);
  std::size_t pos = 0;
  const std::size_t s = separator_.size();
  while (pos < text.size()) {
    auto open = text.find(separator_, pos);
    if (open == std::string::npos) {
      // A separator may be cut by the end of the block.
      std::size_t keep = 0;
      if (!at_end)
        for (std::size_t k = std::min(s - 1, text.size() - pos); k > 0; --k)
          if (text.compare(text.size() - k, k, separator_, 0, k) == 0) {
            keep = k;
            break;
          }
      out.append(text, pos, text.size() - pos - keep);
      held_ = text.substr(text.size() - keep);
      return out;
    }
    out.append(text, pos, open - pos);
    auto close = text.find(separator_, open + s);
    if (close == std::string::npos) {
      if (at_end) out.append(text, open, std::string::npos);
      else held_ = text.substr(open);
      return out;
    }
    auto key = text.substr(open + s, close - open - s);
    auto value = replacements_.find(key);
    if (value != replacements_.end()) {
      out.append(value->second);
      pos = close + s;
    } else {
      out.append(text, open, close - open);  // the closing separator may open the next pattern
      pos = close;
    }
  }
  return out;
}

}  // namespace tavri::http
