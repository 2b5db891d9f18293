#include "path_mapping.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace tavri::http {
namespace {

enum class Kind { none, file, directory };

Kind kind_of(const std::string& path, FileStamp* found) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Kind::none;
  if (found) *found = FileStamp::of(st);
  // A FIFO or device under a content name would hang or serve nothing.
  if (S_ISDIR(st.st_mode)) return Kind::directory;
  return S_ISREG(st.st_mode) ? Kind::file : Kind::none;
}

// The root as the file system resolves it (links followed), looked up once
// per root rather than on every request.
std::string resolved_root(const std::string& root) {
  thread_local std::string last_root, last_resolved;
  if (root != last_root) {
    char* r = ::realpath(root.c_str(), nullptr);
    last_resolved = r ? std::string(r) : std::string();
    std::free(r);
    if (!last_resolved.empty() && last_resolved.back() != '/') last_resolved += '/';
    last_root = root;
  }
  return last_resolved;
}

// A link inside the folder may point anywhere: what is served must lie
// inside the resolved root, wherever the path's links lead.
bool resolves_inside(const std::string& path, const std::string& root) {
  const std::string inside = resolved_root(root);
  if (inside.empty()) return false;
  char* r = ::realpath(path.c_str(), nullptr);
  if (!r) return false;
  std::string resolved(r);
  std::free(r);
  if (resolved.back() != '/' && resolved + "/" == inside) return true;
  return resolved.compare(0, inside.size(), inside) == 0;
}

// Without a link among the components below the root, a path cannot leave
// it, and the last component's own attributes are the file's: one lstat per
// component instead of resolving the whole path on every request. A link
// leaves the answer to the resolved path.
Kind kind_inside(const std::string& full, const std::string& root, FileStamp* found, bool* outside) {
  *outside = false;
  std::size_t pos = root.size();  // full starts with the root, which ends in '/'
  while (pos < full.size()) {
    std::size_t next = full.find('/', pos);
    if (next == std::string::npos) next = full.size();
    if (next == pos) {
      ++pos;
      continue;
    }
    struct stat st {};
    if (::lstat(full.substr(0, next).c_str(), &st) != 0) return Kind::none;
    if (S_ISLNK(st.st_mode)) {
      const Kind kind = kind_of(full, found);
      *outside = kind != Kind::none && !resolves_inside(full, root);
      return kind;
    }
    if (next == full.size() || (next + 1 == full.size() && S_ISDIR(st.st_mode))) {
      if (found) *found = FileStamp::of(st);
      if (S_ISDIR(st.st_mode)) return Kind::directory;
      return S_ISREG(st.st_mode) ? Kind::file : Kind::none;
    }
    if (!S_ISDIR(st.st_mode)) return Kind::none;
    pos = next + 1;
  }
  return kind_of(full, found);  // the root itself
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> percent_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    int hi = i + 1 < s.size() ? hex_value(s[i + 1]) : -1;
    int lo = i + 2 < s.size() ? hex_value(s[i + 2]) : -1;
    if (hi < 0 || lo < 0) return std::nullopt;
    char c = static_cast<char>(hi * 16 + lo);
    if (c == '\0') return std::nullopt;
    out += c;
    i += 2;
  }
  return out;
}

}  // namespace

std::string standardize_path(std::string_view path) {
  std::string home_expanded;
  if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
    const char* home = std::getenv("HOME");
    home_expanded = std::string(home ? home : "") + std::string(path.substr(1));
    path = home_expanded;
  }
  const bool absolute = !path.empty() && path[0] == '/';
  // Built in place, one component at a time: this runs on every request.
  const std::size_t base = absolute ? 1 : 0;
  std::string out = absolute ? "/" : "";
  out.reserve(path.size() + 1);
  std::size_t named = 0;  // components in out other than leading ".."
  while (!path.empty()) {
    const auto slash = path.find('/');
    const auto part = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == ".." && named > 0) {
      const auto cut = out.rfind('/');
      out.resize(cut == std::string::npos || cut < base ? base : cut);
      --named;
      continue;
    }
    if (part == ".." && absolute) continue;
    if (out.size() > base) out += '/';
    out += part;
    if (part != "..") ++named;
  }
  if (out.empty()) out = ".";
  return out;
}

std::string document_root_with_slash(std::string_view root) {
  std::string s = standardize_path(root);
  if (s.back() != '/') s += '/';
  return s;
}

std::string_view target_path(std::string_view target) {
  auto end = target.find_first_of("?#");
  target = target.substr(0, end);
  // Absolute form: scheme://authority/path
  auto scheme = target.find("://");
  if (scheme != std::string_view::npos && target.find('/') > scheme) {
    auto path = target.find('/', scheme + 3);
    return path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  return target;
}

// The root is the same on nearly every request: standardised once per
// thread (a root under "~" follows HOME, so it is looked at every time).
static const std::string& root_with_slash(std::string_view root) {
  thread_local std::string last_root, last_standard;
  if (root.front() == '~' || root != last_root) {
    last_standard = document_root_with_slash(root);
    last_root = root;
  }
  return last_standard;
}

bool open_file_inside(int fd, std::string_view document_root) {
  if (document_root.empty()) return false;
  const std::string inside = resolved_root(root_with_slash(document_root));
  if (inside.empty()) return false;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n > 0) return std::string_view(target, static_cast<std::size_t>(n)).starts_with(inside);
  // Without /proc (a bare chroot) the caller's check of the inode against
  // the path's stands alone.
  return errno == ENOENT && ::access("/proc/self", F_OK) != 0;
}

std::optional<std::string> request_file_path(std::string_view document_root, std::string_view target,
                                             PathRefusal* refusal) {
  auto refuse = [&](PathRefusal r) -> std::optional<std::string> {
    if (refusal) *refusal = r;
    return std::nullopt;
  };
  if (refusal) *refusal = PathRefusal::none;
  if (document_root.empty()) return refuse(PathRefusal::no_root);
  if (document_root.front() != '/' && document_root.front() != '~') return refuse(PathRefusal::invalid_root);
  const std::string& root = root_with_slash(document_root);

  auto relative = percent_decode(target_path(target));
  if (!relative) return refuse(PathRefusal::bad_target);
  std::string joined;
  joined.reserve(root.size() + 1 + relative->size());
  joined.append(root).append("/").append(*relative);
  std::string full = standardize_path(joined);
  if (*relative == "/") full += '/';
  if (full.compare(0, root.size(), root) != 0) return refuse(PathRefusal::outside_root);
  return full;
}

std::optional<std::string> map_request_path(std::string_view document_root, std::string_view target,
                                            bool allow_directory, PathRefusal* refusal, FileStamp* found) {
  FileStamp none;
  FileStamp& stamp = found ? *found : none;
  stamp = FileStamp{};
  auto refuse = [&](PathRefusal r) -> std::optional<std::string> {
    stamp = FileStamp{};
    if (refusal) *refusal = r;
    return std::nullopt;
  };
  auto mapped = request_file_path(document_root, target, refusal);
  if (!mapped) return std::nullopt;
  std::string full = std::move(*mapped);
  const std::string& root = root_with_slash(document_root);

  bool outside = false;
  const Kind kind = kind_inside(full, root, &stamp, &outside);
  if (kind != Kind::file) stamp = FileStamp{};
  if (outside) return refuse(PathRefusal::outside_root);
  if (allow_directory || kind != Kind::directory) return full;
  for (const char* index : {"index.html", "index.htm"}) {
    std::string candidate = standardize_path(full + "/" + index);
    if (kind_inside(candidate, root, &stamp, &outside) == Kind::file) {
      if (!outside) return candidate;
      return refuse(PathRefusal::outside_root);
    }
    stamp = FileStamp{};
  }
  return std::nullopt;
}

}  // namespace tavri::http
