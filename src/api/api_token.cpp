#include "api/api_token.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavri::api {

namespace {

std::string reason(const std::string& path, const char* what) {
  return path + ": " + what + " (" + std::strerror(errno) + ")";
}

bool is_token(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::optional<std::string> make_token(const std::string& path, std::string& error) {
  unsigned char bits[32];
  for (std::size_t got = 0; got < sizeof bits;) {
    const ssize_t n = ::getrandom(bits + got, sizeof bits - got, 0);
    if (n < 0 && errno != EINTR) {
      error = reason(path, "no random bits for a token");
      return std::nullopt;
    }
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bits) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  // O_EXCL: two starts at once do not each write their own token.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return load_or_make_token(path, error);
    error = reason(path, "cannot make the token file");
    return std::nullopt;
  }
  const std::string line = token + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    error = reason(path, "cannot write the token file");
    ::unlink(path.c_str());
    return std::nullopt;
  }
  return token;
}

}  // namespace

std::optional<std::string> load_or_make_token(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return make_token(path, error);
    error = reason(path, "cannot read the token file");
    return std::nullopt;
  }
  struct stat st{};
  char buffer[128];
  const ssize_t n = ::fstat(fd, &st) == 0 ? ::read(fd, buffer, sizeof buffer) : -1;
  ::close(fd);
  if (n < 0) {
    error = reason(path, "cannot read the token file");
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode) || (st.st_mode & 077) != 0) {
    error = path + ": the token file must be a plain file that only its owner can read (chmod 600)";
    return std::nullopt;
  }
  std::string_view text(buffer, static_cast<std::size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  if (!is_token(text)) {
    error = path + ": the token file does not hold a token (64 hex digits); remove it to have a new one made";
    return std::nullopt;
  }
  return std::string(text);
}

bool same_token(std::string_view given, std::string_view expected) {
  // The length is not secret; the contents are compared in full.
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i)
    diff |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
  return diff == 0;
}

}  // namespace tavri::api
