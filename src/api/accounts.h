#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/roles.h"

// The people who sign in to the console and the named tokens that
// integrations hold, each with a role, in one JSON file that only the
// service's user can read. Passwords are kept as Argon2id hashes, tokens as
// SHA-256 hashes (a token is 256 random bits: a fast hash is enough).
// Thread-safe: the listener's thread and the hashing threads use it.
namespace tavri::api {

class Accounts {
 public:
  static constexpr std::size_t kMinPassword = 8, kMaxPassword = 256, kMaxName = 64;
  static constexpr std::size_t kMaxUsers = 256, kMaxTokens = 256;

  struct User {
    std::string name;
    Role role = Role::viewer;
    std::int64_t created = 0;  // seconds since the epoch
  };
  struct Token {
    std::string name;
    Role role = Role::viewer;
    std::int64_t created = 0, last_used = 0;  // 0: never used
  };

  // `legacy_password_file`: the single console password of older
  // versions; when there is no accounts file yet, it becomes the password
  // of an admin named "admin", so an upgrade keeps the sign-in working.
  explicit Accounts(std::string file, std::string legacy_password_file = {});

  // Why a name cannot be an account's or a token's: 1 to 64 of letters,
  // digits and . _ @ -.
  static std::optional<std::string> name_problem(std::string_view name);
  static std::optional<std::string> password_problem(std::string_view password);

  // Each change: nothing when done, else the reason. Slow where a password
  // is hashed; call off the listener's thread.
  std::optional<std::string> add_user(const std::string& name, Role role, std::string_view password);
  std::optional<std::string> remove_user(const std::string& name);
  std::optional<std::string> set_password(const std::string& name, std::string_view password);
  std::optional<std::string> set_role(const std::string& name, Role role);
  std::vector<User> users();
  bool has_users();
  std::optional<Role> role_of(const std::string& name);
  // Slow on purpose; a missing account takes as long as a wrong password.
  std::optional<Role> check_password(const std::string& name, std::string_view password);

  // The new token's text, shown once; or the reason in `error`.
  std::optional<std::string> create_token(const std::string& name, Role role, std::string& error);
  std::optional<std::string> revoke_token(const std::string& name);
  std::vector<Token> tokens();
  struct Holder {
    std::string name;
    Role role;
    std::string id;  // this token's own, unlike its name, never that of a later one
  };
  // The token a bearer header carries, if it is one of ours; using it is
  // noted as its last use.
  std::optional<Holder> token_holder(std::string_view token, std::int64_t now);
  bool token_live(const std::string& id);

  // Called after a person or token lost its access (removed, revoked, new
  // password or role), from the thread that did it, with the account's
  // name (people) or "token NAME".
  void on_access_ended(std::function<void(const std::string&)> callback);

 private:
  struct StoredUser {
    User user;
    std::string hash;
  };
  struct StoredToken {
    Token token;
    std::string hash;  // hex SHA-256
  };
  void load(const std::string& legacy_password_file);
  std::optional<std::string> save();  // under the mutex
  int admins() const;
  void ended(const std::string& who);

  const std::string file_;
  std::mutex mutex_;
  std::vector<StoredUser> users_;
  std::vector<StoredToken> tokens_;
  std::function<void(const std::string&)> ended_;
  std::once_flag dummy_made_;
  std::string dummy_hash_;  // checked for unknown names, so they take as long
};

}  // namespace tavri::api
