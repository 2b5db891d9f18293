#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sites/media_fetch.h"

// A hub's request to its sites: an API operation in the API's own form,
// with the hub's Ed25519 signature over its exact text, a time and a
// nonce. The broker between them only carries it: what it could change
// or replay is refused here.
namespace tavri::sites {

using PublicKey = std::array<unsigned char, 32>;
using SecretKey = std::array<unsigned char, 64>;

struct KeyPair {
  std::string public_key;  // base64, for each site's configuration
  std::string secret_key;  // base64, kept by the hub alone
};
KeyPair create_key_pair();
std::optional<PublicKey> public_key_of(std::string_view base64);
std::optional<SecretKey> secret_key_of(std::string_view base64);

// What a site's name may be: it is a level of a broker's topic.
// 1-64 of a-z, 0-9, '-', '_' and '.'; "all" names every site.
bool valid_site_name(std::string_view name);

struct Request {
  std::string id;     // 1-64 of 0-9a-f, chosen by the hub; the reply's topic
  std::string site;   // the site it is for, or "all"
  std::int64_t time_ms = 0;
  std::string nonce;  // 32 of 0-9a-f, never used twice
  std::string method, path, query, body;
  std::vector<Media> media;  // fetched and checked before the operation runs
};

// The request as a message on the broker, signed.
std::string seal(const Request& request, const SecretKey& key);

// The nonces a site has taken within the age limit: a request seen once
// is not taken again, whatever the broker redelivers.
class ReplayGuard {
 public:
  explicit ReplayGuard(std::int64_t max_age_ms, std::size_t capacity = 200000)
      : max_age_ms_(max_age_ms), capacity_(capacity) {}
  // False when the nonce was taken, or the window is full.
  bool admit(const std::string& nonce, std::int64_t time_ms, std::int64_t now_ms);
  std::int64_t max_age_ms() const { return max_age_ms_; }
  // One "time nonce" line each, to outlive a restart.
  std::string save() const;
  void load(std::string_view text, std::int64_t now_ms);
  std::size_t size() const { return by_nonce_.size(); }

 private:
  void forget_before(std::int64_t oldest_ms);
  std::int64_t max_age_ms_;
  std::size_t capacity_;
  std::map<std::string, std::int64_t> by_nonce_;
  std::multimap<std::int64_t, std::string> by_time_;
};

struct Opened {
  std::optional<Request> request;  // taken: run it
  std::string refusal;             // why not, in words for the audit
  std::string id;                  // the id it claimed, to reply to; may be empty
};

// Checks a message from the broker for the site `site`: its form, the
// hub's signature, that it is for this site, its age (at most the guard's
// limit old, at most five minutes ahead of this clock), and its nonce.
Opened open(std::string_view message, const PublicKey& hub, std::string_view site, std::int64_t now_ms,
            ReplayGuard& guard);

inline constexpr std::int64_t kClockSkewMs = 5 * 60 * 1000;
inline constexpr std::size_t kMaxBody = 1 << 20;
inline constexpr std::size_t kMaxMedia = 100;
inline constexpr std::size_t kMaxMessage = 8 * kMaxBody;

}  // namespace tavri::sites
