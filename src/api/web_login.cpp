#include "api/web_login.h"

#include "net/random_hex.h"

#include <sodium.h>

#include <algorithm>

namespace tavri::api {

namespace {

constexpr std::string_view kCookieName = "tavri_session";
constexpr std::size_t kMaxClients = 4096;
constexpr std::string_view kDeviceCookie = "tavri_device";
constexpr std::size_t kMaxDevices = 256;

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

WebLogin::WebLogin(std::shared_ptr<Accounts> accounts) : accounts_(std::move(accounts)) {
  if (sodium_init() < 0) std::abort();  // no safe randomness: nothing here can work
  accounts_->on_access_ended([this](const std::string& who) { access_ended(who); });
}

void WebLogin::access_ended(const std::string& who) {
  std::function<void()> ended;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(sessions_, [&](const auto& s) { return s.second.user == who; });
    ended = ended_;
  }
  // Event streams of revoked tokens end too: the callback checks them all.
  if (ended) ended();
}

std::optional<std::string> WebLogin::set_password(std::string_view password) {
  if (accounts_->role_of("admin")) return accounts_->set_password("admin", password);
  return accounts_->add_user("admin", Role::admin, password);
}

int WebLogin::pause_left(const std::string& client, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto it = failures_.find(client);
  if (it == failures_.end() || it->second.paused_until <= now) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(it->second.paused_until - now).count());
}

std::optional<WebLogin::Session> WebLogin::sign_in(const std::string& client, const std::string& user,
                                                   std::string_view password, Clock::time_point now) {
  const auto role = accounts_->check_password(user, password);
  std::lock_guard lock(mutex_);
  if (!role) {
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
  Session s{net::random_hex(32), net::random_hex(32), user, *role};
  sessions_[s.id] = {s.csrf, user, now};
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
  std::optional<Session> found;
  {
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
      if (!same(it->first, id)) continue;
      if (now - it->second.last_used > kIdleLimit) {
        sessions_.erase(it);
        return std::nullopt;
      }
      it->second.last_used = now;
      found = Session{it->first, it->second.csrf, it->second.user, Role::none};
      break;
    }
  }
  if (!found) return std::nullopt;
  // The role as it is now: a change of role takes effect on the next request.
  const auto role = accounts_->role_of(found->user);
  if (!role) return std::nullopt;
  found->role = *role;
  return found;
}

std::string WebLogin::remember_device() {
  std::lock_guard lock(mutex_);
  if (devices_.size() >= kMaxDevices) devices_.erase(devices_.begin());
  devices_.push_back(net::random_hex(32));
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
