#include "api/web_login.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tavri::api {

namespace {

constexpr std::string_view kCookieName = "tavri_session";
// 19 MiB and two passes: strong enough for a password that only guards a
// LAN console, and light enough for a box with little memory.
constexpr unsigned long long kOpsLimit = 2;
constexpr std::size_t kMemLimit = 19u << 20;
constexpr std::size_t kMaxClients = 4096;
constexpr std::string_view kDeviceCookie = "tavri_device";
constexpr std::size_t kMaxDevices = 256;

std::string random_hex() {
  unsigned char bytes[32];
  randombytes_buf(bytes, sizeof bytes);
  char hex[sizeof bytes * 2 + 1];
  sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
  return hex;
}

bool same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

// "a=1; tavri_session=ID; b=2": the value of `name`, or empty.
std::string_view cookie_value(std::string_view header, std::string_view name) {
  std::string_view value;
  while (!header.empty()) {
    const auto end = header.find(';');
    std::string_view pair = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    if (pair.starts_with(name) && pair.substr(name.size()).starts_with('=')) value = pair.substr(name.size() + 1);
  }
  return value;
}

}  // namespace

WebLogin::WebLogin(std::string hash_file) : hash_file_(std::move(hash_file)) {
  if (sodium_init() < 0) std::abort();  // no safe randomness: nothing here can work
}

std::string WebLogin::read_hash() {
  const int fd = ::open(hash_file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  char buffer[crypto_pwhash_STRBYTES + 2];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return {};
  std::string text(buffer, static_cast<std::size_t>(n));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.starts_with("$argon2id$") ? text : std::string();
}

bool WebLogin::has_password() { return !read_hash().empty(); }

std::optional<std::string> WebLogin::set_password(std::string_view password) {
  if (password.size() < kMinPassword)
    return "the password needs at least " + std::to_string(kMinPassword) + " characters";
  if (password.size() > kMaxPassword)
    return "the password may have at most " + std::to_string(kMaxPassword) + " characters";
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), kOpsLimit, kMemLimit,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    return std::string("there is not enough memory to hash the password");
  // A new file beside the old, then renamed over it: a crash leaves one of the two.
  const std::string temporary = hash_file_ + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return hash_file_ + ": cannot be written (" + std::strerror(errno) + ")";
  const std::string line = std::string(hash) + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), hash_file_.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temporary.c_str());
    return hash_file_ + ": cannot be written (" + why + ")";
  }
  std::function<void()> ended;
  {
    std::lock_guard lock(mutex_);
    sessions_.clear();
    ended = ended_;
  }
  if (ended) ended();
  return std::nullopt;
}

int WebLogin::pause_left(const std::string& client, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto it = failures_.find(client);
  if (it == failures_.end() || it->second.paused_until <= now) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(it->second.paused_until - now).count());
}

std::optional<WebLogin::Session> WebLogin::sign_in(const std::string& client, std::string_view password,
                                                   Clock::time_point now) {
  const std::string hash = read_hash();
  const bool right = !hash.empty() && password.size() <= kMaxPassword &&
                     crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
  std::lock_guard lock(mutex_);
  if (!right) {
    if (failures_.size() >= kMaxClients && !failures_.contains(client)) {
      // Forget the quietest guesser, not the limit.
      auto oldest = std::min_element(failures_.begin(), failures_.end(),
                                     [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
      failures_.erase(oldest);
    }
    // Slower and slower, never shut: one second after the fifth wrong try,
    // doubling up to a minute, forgotten after a quiet hour.
    Failures& f = failures_[client];
    if (now - f.last > std::chrono::hours(1)) f.count = 0;
    f.last = now;
    if (++f.count >= kFailuresBeforePause)
      f.paused_until = now + std::min<Clock::duration>(kPause, std::chrono::seconds(1LL << std::min(f.count - kFailuresBeforePause, 6)));
    return std::nullopt;
  }
  failures_.erase(client);
  std::erase_if(sessions_, [&](const auto& s) { return now - s.second.last_used > kIdleLimit; });
  if (sessions_.size() >= kMaxSessions) {
    auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
      return a.second.last_used < b.second.last_used;
    });
    sessions_.erase(oldest);
  }
  Session s{random_hex(), random_hex()};
  sessions_[s.id] = {s.csrf, now};
  return s;
}

void WebLogin::sign_out(std::string_view session_id) {
  std::function<void()> ended;
  {
    std::lock_guard lock(mutex_);
    sessions_.erase(std::string(session_id));
    ended = ended_;
  }
  if (ended) ended();
}

bool WebLogin::session_open(const std::string& session_id) {
  std::lock_guard lock(mutex_);
  const auto it = sessions_.find(session_id);
  return it != sessions_.end() && Clock::now() - it->second.last_used <= kIdleLimit;
}

void WebLogin::on_sessions_ended(std::function<void()> callback) {
  std::lock_guard lock(mutex_);
  ended_ = std::move(callback);
}

std::optional<WebLogin::Session> WebLogin::session(std::string_view cookie_header, Clock::time_point now) {
  const std::string_view id = cookie_value(cookie_header, kCookieName);
  if (id.size() != 64) return std::nullopt;
  std::lock_guard lock(mutex_);
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if (!same(it->first, id)) continue;
    if (now - it->second.last_used > kIdleLimit) {
      sessions_.erase(it);
      return std::nullopt;
    }
    it->second.last_used = now;
    return Session{it->first, it->second.csrf};
  }
  return std::nullopt;
}

std::string WebLogin::remember_device() {
  std::lock_guard lock(mutex_);
  if (devices_.size() >= kMaxDevices) devices_.erase(devices_.begin());
  devices_.push_back(random_hex());
  return devices_.back();
}

std::string WebLogin::known_device(std::string_view cookie_header) {
  const std::string_view token = cookie_value(cookie_header, kDeviceCookie);
  if (token.size() != 64) return {};
  std::lock_guard lock(mutex_);
  for (const std::string& known : devices_)
    if (same(known, token)) return known;
  return {};
}

std::string WebLogin::device_cookie(const std::string& token, bool secure) {
  return std::string(kDeviceCookie) + "=" + token + "; Path=/api/login; Max-Age=31536000; HttpOnly; SameSite=Strict" +
         (secure ? "; Secure" : "");
}

std::string WebLogin::cookie(const std::string& session_id, bool secure) {
  return std::string(kCookieName) + "=" + session_id + "; Path=/; HttpOnly; SameSite=Strict" +
         (secure ? "; Secure" : "");
}

std::string WebLogin::expired_cookie(bool secure) {
  return std::string(kCookieName) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" + (secure ? "; Secure" : "");
}

}  // namespace tavri::api
