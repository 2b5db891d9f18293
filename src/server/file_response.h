#pragma once
#include <memory>
#include <string>
#include <vector>

#include "file_stamp.h"
#include "http_response.h"

namespace tavri::http {

class SmallFileCache;

// Serves a file from disk. The file is opened at the first read or seek, so
// a HEAD request or an empty file never opens it; one buffer is reused for
// every slice once the socket has let go of the previous one. Slices of the
// file itself share its one descriptor.
class FileResponse : public HttpResponse {
 public:
  // Nothing when the path is empty or its attributes cannot be read.
  static std::unique_ptr<FileResponse> create(const std::string& path, std::shared_ptr<ResponseListener> connection);
  // For a file whose attributes the caller has just read.
  static std::unique_ptr<FileResponse> create(std::string path, std::uint64_t length,
                                              std::shared_ptr<ResponseListener> connection);
  // Opens the file the path mapping checked, and serves it only when what
  // was opened is that file (same device and inode) and lies inside the
  // document root as the kernel names it: a file swapped for a link between
  // the check and the open is not served. Nothing then.
  static std::unique_ptr<FileResponse> open_checked(std::string path, const FileStamp& checked,
                                                    std::string_view document_root,
                                                    std::shared_ptr<ResponseListener> connection);
  // The file `full_path` names beneath the folder held open as `folder`
  // (root_length: the length of the folder's path with its "/"), a folder
  // naming its index file. The kernel follows links only while they stay
  // beneath the folder, so what is opened may be served, with no look at
  // the path before or after. A small file whose bytes the cache holds for
  // its stamp is answered without an open. Nothing for no such file;
  // `no_way` is set when a link was met that the kernel would not follow
  // beneath the folder (an absolute one; any without openat2), for the
  // caller to check the path instead.
  static std::unique_ptr<FileResponse> open_beneath(int folder, std::string full_path, std::size_t root_length,
                                                    SmallFileCache* cache,
                                                    std::shared_ptr<ResponseListener> connection, bool* no_way);
  ~FileResponse() override;

  std::uint64_t content_length() override { return file_length_; }
  std::uint64_t offset() override { return file_offset_; }
  void set_offset(std::uint64_t offset) override;
  Bytes read_data(std::uint64_t length) override;
  bool is_done() override { return file_offset_ == file_length_; }
  bool sends_file_slices() override { return true; }
  std::optional<net::FileSlice> file_slice(std::uint64_t length) override;
  void file_slice_failed(int error) override;
  const FileStamp* stamp() override { return stamp_.size >= 0 ? &stamp_ : nullptr; }
  std::string_view content_type() override;

  // Answers from the cache's copy when it still matches found, the file's
  // stamp as the request saw it; a small file read whole is offered to it.
  void use_cache(SmallFileCache& cache, const FileStamp& found);

  const std::string& file_path() const { return file_path_; }
  bool is_open() const { return file_ != nullptr; }
  void abort();

 protected:
  FileResponse(std::shared_ptr<ResponseListener> connection, std::string path, std::uint64_t length);
  bool open_if_needed();
  void read_failed(int error);  // 0: the file ended early

  std::shared_ptr<ResponseListener> connection_;
  std::string file_path_;
  std::uint64_t file_length_ = 0;
  std::uint64_t file_offset_ = 0;
  bool aborted_ = false;
  std::shared_ptr<const net::FileHandle> file_;  // shared with a slice still being sent
  std::shared_ptr<std::vector<std::uint8_t>> buffer_;
  SmallFileCache* cache_ = nullptr;
  FileStamp stamp_;  // of the opened file, when opened checked
  Bytes cached_;  // the whole file, when the cache had it
};

// Reads the size (through any links); false (and logged) on failure.
bool file_attributes(const std::string& path, const char* component, std::string* resolved, std::uint64_t* length);

}  // namespace tavri::http
