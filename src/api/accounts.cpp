#include "api/accounts.h"

#include "fs/private_file.h"
#include "net/random_hex.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <nlohmann/json.hpp>

namespace tavri::api {

namespace {

// 19 MiB and two passes: strong enough for a password that only guards a
// LAN console, and light enough for a box with little memory.
constexpr unsigned long long kOpsLimit = 2;
constexpr std::size_t kMemLimit = 19u << 20;

std::string hex(const unsigned char* bytes, std::size_t size) {
  std::string out(size * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bytes, size);
  out.pop_back();
  return out;
}

std::string sha256_hex(std::string_view text) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return hex(digest, sizeof digest);
}

std::optional<std::string> hash_password(std::string_view password, std::string& error) {
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(), kOpsLimit, kMemLimit,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    error = "there is not enough memory to hash the password";
    return std::nullopt;
  }
  return std::string(hash);
}

}  // namespace

Accounts::Accounts(std::string file, std::string legacy_password_file) : file_(std::move(file)) {
  if (sodium_init() < 0) std::abort();  // no safe randomness: nothing here can work
  load(legacy_password_file);
}

void Accounts::load(const std::string& legacy_password_file) {
  const std::string text = read_private_file(file_);
  if (text.empty()) {
    if (legacy_password_file.empty()) return;
    std::string hash = read_private_file(legacy_password_file);
    while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
    if (!hash.starts_with("$argon2id$")) return;
    users_.push_back({{"admin", Role::admin, static_cast<std::int64_t>(::time(nullptr))}, hash});
    std::lock_guard lock(mutex_);
    save();
    return;
  }
  // A file we cannot read keeps everyone out rather than letting anyone in.
  const auto doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return;
  auto role_of_json = [](const nlohmann::json& j) { return role_named(j.value("role", "")).value_or(Role::viewer); };
  for (const auto& u : doc.value("users", nlohmann::json::array())) {
    if (!u.is_object() || !u.value("name", "").size() || name_problem(u.value("name", ""))) continue;
    users_.push_back({{u.value("name", ""), role_of_json(u), u.value("created", std::int64_t(0))}, u.value("hash", "")});
  }
  for (const auto& t : doc.value("tokens", nlohmann::json::array())) {
    if (!t.is_object() || name_problem(t.value("name", "")) || t.value("hash", "").size() != 64) continue;
    tokens_.push_back({{t.value("name", ""), role_of_json(t), t.value("created", std::int64_t(0)),
                        t.value("last_used", std::int64_t(0))},
                       t.value("hash", "")});
  }
}

std::optional<std::string> Accounts::save() {
  nlohmann::json users = nlohmann::json::array(), tokens = nlohmann::json::array();
  for (const auto& u : users_)
    users.push_back({{"name", u.user.name}, {"role", role_name(u.user.role)}, {"created", u.user.created}, {"hash", u.hash}});
  for (const auto& t : tokens_)
    tokens.push_back({{"name", t.token.name}, {"role", role_name(t.token.role)}, {"created", t.token.created},
                      {"last_used", t.token.last_used}, {"hash", t.hash}});
  return write_private_file(file_, nlohmann::json{{"users", users}, {"tokens", tokens}}.dump(1) + "\n");
}

std::optional<std::string> Accounts::name_problem(std::string_view name) {
  if (name.empty() || name.size() > kMaxName) return "a name has 1 to " + std::to_string(kMaxName) + " characters";
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '@' && c != '-')
      return std::string("a name has only letters, digits and . _ @ -");
  return std::nullopt;
}

std::optional<std::string> Accounts::password_problem(std::string_view password) {
  if (password.size() < kMinPassword) return "the password needs at least " + std::to_string(kMinPassword) + " characters";
  if (password.size() > kMaxPassword) return "the password may have at most " + std::to_string(kMaxPassword) + " characters";
  return std::nullopt;
}

int Accounts::admins() const {
  return static_cast<int>(std::count_if(users_.begin(), users_.end(), [](const auto& u) { return u.user.role == Role::admin; }));
}

void Accounts::ended(const std::string& who) {
  std::function<void(const std::string&)> callback;
  {
    std::lock_guard lock(mutex_);
    callback = ended_;
  }
  if (callback) callback(who);
}

void Accounts::on_access_ended(std::function<void(const std::string&)> callback) {
  std::lock_guard lock(mutex_);
  ended_ = std::move(callback);
}

std::optional<std::string> Accounts::add_user(const std::string& name, Role role, std::string_view password) {
  if (auto problem = name_problem(name)) return problem;
  if (role == Role::none) return std::string("the role must be viewer, operator or admin");
  if (auto problem = password_problem(password)) return problem;
  std::string error;
  const auto hash = hash_password(password, error);
  if (!hash) return error;
  std::lock_guard lock(mutex_);
  if (std::any_of(users_.begin(), users_.end(), [&](const auto& u) { return u.user.name == name; }))
    return "there is already an account named \"" + name + "\"";
  if (users_.size() >= kMaxUsers) return "there are " + std::to_string(kMaxUsers) + " accounts already";
  users_.push_back({{name, role, static_cast<std::int64_t>(::time(nullptr))}, *hash});
  if (auto failed = save()) {
    users_.pop_back();
    return failed;
  }
  return std::nullopt;
}

std::optional<std::string> Accounts::remove_user(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(users_.begin(), users_.end(), [&](const auto& u) { return u.user.name == name; });
    if (it == users_.end()) return "no account is named \"" + name + "\"";
    if (it->user.role == Role::admin && admins() == 1)
      return std::string("the last admin account cannot be removed: make another admin first");
    const StoredUser kept = *it;
    users_.erase(it);
    if (auto failed = save()) {
      users_.push_back(kept);
      return failed;
    }
  }
  ended(name);
  return std::nullopt;
}

std::optional<std::string> Accounts::set_password(const std::string& name, std::string_view password) {
  if (auto problem = password_problem(password)) return problem;
  std::string error;
  const auto hash = hash_password(password, error);
  if (!hash) return error;
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(users_.begin(), users_.end(), [&](const auto& u) { return u.user.name == name; });
    if (it == users_.end()) return "no account is named \"" + name + "\"";
    const std::string old = it->hash;
    it->hash = *hash;
    if (auto failed = save()) {
      it->hash = old;
      return failed;
    }
  }
  ended(name);
  return std::nullopt;
}

std::optional<std::string> Accounts::set_role(const std::string& name, Role role) {
  if (role == Role::none) return std::string("the role must be viewer, operator or admin");
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(users_.begin(), users_.end(), [&](const auto& u) { return u.user.name == name; });
    if (it == users_.end()) return "no account is named \"" + name + "\"";
    if (it->user.role == role) return std::nullopt;
    if (it->user.role == Role::admin && admins() == 1)
      return std::string("the last admin account must stay an admin: make another admin first");
    const Role old = it->user.role;
    it->user.role = role;
    if (auto failed = save()) {
      it->user.role = old;
      return failed;
    }
  }
  ended(name);
  return std::nullopt;
}

std::vector<Accounts::User> Accounts::users() {
  std::lock_guard lock(mutex_);
  std::vector<User> out;
  for (const auto& u : users_) out.push_back(u.user);
  return out;
}

bool Accounts::has_users() {
  std::lock_guard lock(mutex_);
  return !users_.empty();
}

std::optional<Role> Accounts::role_of(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (const auto& u : users_)
    if (u.user.name == name) return u.user.role;
  return std::nullopt;
}

std::optional<Role> Accounts::check_password(const std::string& name, std::string_view password) {
  std::string hash;
  std::optional<Role> role;
  {
    std::lock_guard lock(mutex_);
    for (const auto& u : users_)
      if (u.user.name == name) hash = u.hash, role = u.user.role;
  }
  const bool known = role.has_value();
  if (!known) {
    // Made at the first unknown name, not at every start: the hash is slow on purpose.
    std::call_once(dummy_made_, [this] {
      std::string ignored;
      dummy_hash_ = hash_password("not anyone's password", ignored).value_or("");
    });
    hash = dummy_hash_;
  }
  const bool right = password.size() <= kMaxPassword && !hash.empty() &&
                     crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
  if (!known || !right) return std::nullopt;
  // The account may have gone while the hash was checked.
  return role_of(name);
}

std::optional<std::string> Accounts::create_token(const std::string& name, Role role, std::string& error) {
  if (auto problem = name_problem(name)) {
    error = *problem;
    return std::nullopt;
  }
  if (role == Role::none) {
    error = "the role must be viewer, operator or admin";
    return std::nullopt;
  }
  const std::string token = net::random_hex(32);
  std::lock_guard lock(mutex_);
  if (std::any_of(tokens_.begin(), tokens_.end(), [&](const auto& t) { return t.token.name == name; })) {
    error = "there is already a token named \"" + name + "\"";
    return std::nullopt;
  }
  if (tokens_.size() >= kMaxTokens) {
    error = "there are " + std::to_string(kMaxTokens) + " tokens already";
    return std::nullopt;
  }
  tokens_.push_back({{name, role, static_cast<std::int64_t>(::time(nullptr)), 0}, sha256_hex(token)});
  if (auto failed = save()) {
    tokens_.pop_back();
    error = *failed;
    return std::nullopt;
  }
  return token;
}

std::optional<std::string> Accounts::revoke_token(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(tokens_.begin(), tokens_.end(), [&](const auto& t) { return t.token.name == name; });
    if (it == tokens_.end()) return "no token is named \"" + name + "\"";
    const StoredToken kept = *it;
    tokens_.erase(it);
    if (auto failed = save()) {
      tokens_.push_back(kept);
      return failed;
    }
  }
  ended("token " + name);
  return std::nullopt;
}

std::vector<Accounts::Token> Accounts::tokens() {
  std::lock_guard lock(mutex_);
  std::vector<Token> out;
  for (const auto& t : tokens_) out.push_back(t.token);
  return out;
}

std::optional<Accounts::Holder> Accounts::token_holder(std::string_view token, std::int64_t now) {
  if (token.size() != 64) return std::nullopt;
  const std::string digest = sha256_hex(token);
  std::lock_guard lock(mutex_);
  for (auto& t : tokens_) {
    if (sodium_memcmp(t.hash.data(), digest.data(), digest.size()) != 0) continue;
    // Written at most once a minute: a busy integration does not rewrite the file per request.
    const bool note = now - t.token.last_used >= 60;
    t.token.last_used = now;
    if (note) save();
    return Holder{t.token.name, t.token.role, t.hash};
  }
  return std::nullopt;
}

bool Accounts::token_live(const std::string& id) {
  std::lock_guard lock(mutex_);
  return std::any_of(tokens_.begin(), tokens_.end(), [&](const auto& t) { return t.hash == id; });
}

}  // namespace tavri::api
