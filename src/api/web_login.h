#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "api/accounts.h"

// The web console's sign-in: the accounts it checks names and passwords
// against, the sessions it opens (a cookie and the CSRF token that must come
// with every change), and a brake on guessing. Thread-safe: the listener's
// thread and the hashing threads use it.
namespace tavri::api {

class WebLogin {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kFailuresBeforePause = 5;
  static constexpr std::chrono::seconds kPause{60};
  static constexpr std::chrono::hours kIdleLimit{8};
  static constexpr std::size_t kMaxSessions = 64;

  // Nobody can sign in until an account exists.
  explicit WebLogin(std::shared_ptr<Accounts> accounts);
  Accounts& accounts() { return *accounts_; }

  bool has_password() { return accounts_->has_users(); }
  // The password of the account "admin", made an admin when there is none
  // (what "tavri-avctl password" always set); its sessions end. The reason
  // when the password is refused or the file cannot be written.
  std::optional<std::string> set_password(std::string_view password);

  struct Session {
    std::string id, csrf, user;
    Role role = Role::none;
  };
  // Seconds to wait before `client` may try again; 0 when it may now.
  int pause_left(const std::string& client, Clock::time_point now = Clock::now());
  // Slow on purpose (the hash); call off the listener's thread. Nothing
  // when the name or password is wrong, which counts against `client`.
  std::optional<Session> sign_in(const std::string& client, const std::string& user, std::string_view password,
                                 Clock::time_point now = Clock::now());
  void sign_out(std::string_view session_id);
  // Whether a session is still open, without using it.
  bool session_open(const std::string& session_id);
  // Called after a sign-out, or a person or token losing access, from the
  // thread that did it.
  void on_sessions_ended(std::function<void()> callback);
  // The session a Cookie header carries, if it is open, with its account's
  // role now; using it keeps it open.
  std::optional<Session> session(std::string_view cookie_header, Clock::time_point now = Clock::now());

  // A browser that signed in correctly is remembered by a cookie of its
  // own: its guesses are braked apart from its address's, so that a page
  // or a stranger behind the same address cannot slow its operator down.
  std::string remember_device();
  // The remembered browser a Cookie header names; empty for none.
  std::string known_device(std::string_view cookie_header);
  static std::string device_cookie(const std::string& token, bool secure);

  // "tavri_session=ID; ..." for a new session, or one that ends it.
  static std::string cookie(const std::string& session_id, bool secure);
  static std::string expired_cookie(bool secure);

 private:
  struct Open {
    std::string csrf, user;
    Clock::time_point last_used;
  };
  struct Failures {
    int count = 0;
    Clock::time_point paused_until{}, last{};
  };
  void access_ended(const std::string& who);

  std::shared_ptr<Accounts> accounts_;
  std::mutex mutex_;
  std::unordered_map<std::string, Open> sessions_;
  std::unordered_map<std::string, Failures> failures_;
  std::function<void()> ended_;
  std::vector<std::string> devices_;  // oldest first
};

}  // namespace tavri::api
