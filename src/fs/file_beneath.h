#pragma once
#include <cstddef>
#include <optional>
#include <string>

// A file written into a folder under a bare name, never anywhere else: the
// folder is opened once, the bytes go to a new hidden file in it, and the
// last step renames that over the name, both relative to the folder's
// descriptor. A link never leads out: a name that is a link is refused,
// and one swapped in meanwhile is replaced, not followed. Plain POSIX.
namespace tavri {

class FileBeneath {
 public:
  FileBeneath() = default;
  ~FileBeneath();  // what was not committed is removed
  FileBeneath(const FileBeneath&) = delete;
  FileBeneath& operator=(const FileBeneath&) = delete;

  // Why `name` in `folder` cannot be written (not a bare name, a link,
  // present when `replace` is false, the folder unwritable); nothing when
  // the new file is open.
  std::optional<std::string> open(const std::string& folder, const std::string& name, bool replace);
  bool write(const char* data, std::size_t size);
  // Flushes and renames into place; the reason when that failed.
  std::optional<std::string> commit();
  void cancel();
  const std::string& error() const { return error_; }

  // Whether `name` in `folder` is a link (dangling or not).
  static bool is_link(const std::string& folder, const std::string& name);

 private:
  int folder_ = -1, file_ = -1;
  std::string name_, temporary_, error_;
  bool replace_ = false;
};

// The whole of `bytes` as `name` in `folder`, through FileBeneath.
std::optional<std::string> write_beneath(const std::string& folder, const std::string& name, const std::string& bytes,
                                         bool replace = true);

}  // namespace tavri
