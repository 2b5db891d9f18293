#include "sites/signed_request.h"

#include <sodium.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tavri::sites {

namespace {

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::string base64(const unsigned char* data, std::size_t size) {
  std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.pop_back();  // its NUL
  return out;
}

template <std::size_t N>
std::optional<std::array<unsigned char, N>> decode(std::string_view text) {
  std::array<unsigned char, N> out{};
  std::size_t length = 0;
  const char* end = nullptr;
  if (!sodium_ready() || sodium_base642bin(out.data(), N, text.data(), text.size(), " \t\r\n", &length, &end,
                                           sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length != N || end != text.data() + text.size())
    return std::nullopt;
  return out;
}

bool hex_of(std::string_view text, std::size_t min, std::size_t max) {
  return text.size() >= min && text.size() <= max &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool printable(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// What a signed text must hold to be a request; the refusal otherwise.
std::optional<std::string> malformed(const Request& r) {
  static const std::string_view methods[] = {"GET", "POST", "PUT", "PATCH", "DELETE"};
  if (!hex_of(r.id, 1, 64)) return "the request id is not 1-64 hex digits";
  if (r.site != "all" && !valid_site_name(r.site)) return "the site is not a site name";
  if (!hex_of(r.nonce, 32, 32)) return "the nonce is not 32 hex digits";
  if (std::find(std::begin(methods), std::end(methods), r.method) == std::end(methods)) return "no such method";
  if (!r.path.starts_with("/api/") || r.path.size() > 2048 || !printable(r.path) || r.path.find('?') != std::string::npos)
    return "the path is not an API path";
  if (r.query.size() > 4096 || !printable(r.query)) return "the query is not a query";
  if (r.body.size() > kMaxBody) return "the body is too large";
  return std::nullopt;
}

}  // namespace

KeyPair create_key_pair() {
  PublicKey pk{};
  SecretKey sk{};
  if (!sodium_ready() || crypto_sign_keypair(pk.data(), sk.data()) != 0) return {};
  KeyPair pair{base64(pk.data(), pk.size()), base64(sk.data(), sk.size())};
  sodium_memzero(sk.data(), sk.size());
  return pair;
}

std::optional<PublicKey> public_key_of(std::string_view text) { return decode<32>(text); }
std::optional<SecretKey> secret_key_of(std::string_view text) { return decode<64>(text); }

bool valid_site_name(std::string_view name) {
  return !name.empty() && name.size() <= 64 && name != "." && name != ".." &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
         });
}

std::string seal(const Request& r, const SecretKey& key) {
  nlohmann::json signed_text{{"id", r.id},       {"site", r.site}, {"time", r.time_ms}, {"nonce", r.nonce},
                             {"method", r.method}, {"path", r.path}, {"query", r.query},  {"body", r.body}};
  if (!r.media.empty()) {
    auto& media = signed_text["media"] = nlohmann::json::array();
    for (const Media& m : r.media) media.push_back({{"url", m.url}, {"name", m.name}, {"size", m.size}, {"sha256", m.sha256}});
  }
  const std::string text = signed_text.dump();
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  if (!sodium_ready()) return {};
  crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                       key.data());
  return nlohmann::json{{"signed", text}, {"signature", base64(signature.data(), signature.size())}}.dump();
}

bool ReplayGuard::admit(const std::string& nonce, std::int64_t time_ms, std::int64_t now_ms) {
  forget_before(now_ms - max_age_ms_);
  if (by_nonce_.contains(nonce) || by_nonce_.size() >= capacity_) return false;
  by_nonce_.emplace(nonce, time_ms);
  by_time_.emplace(time_ms, nonce);
  return true;
}

void ReplayGuard::forget_before(std::int64_t oldest_ms) {
  while (!by_time_.empty() && by_time_.begin()->first < oldest_ms) {
    by_nonce_.erase(by_time_.begin()->second);
    by_time_.erase(by_time_.begin());
  }
}

std::string ReplayGuard::save() const {
  std::string out;
  for (const auto& [time, nonce] : by_time_) out += std::to_string(time) + ' ' + nonce + '\n';
  return out;
}

void ReplayGuard::load(std::string_view text, std::int64_t now_ms) {
  std::istringstream lines{std::string(text)};
  std::int64_t time = 0;
  std::string nonce;
  while (lines >> time >> nonce)
    if (hex_of(nonce, 32, 32)) admit(nonce, time, now_ms);
}

Opened open(std::string_view message, const PublicKey& hub, std::string_view site, std::int64_t now_ms,
            ReplayGuard& guard) {
  Opened out;
  // The body, escaped at worst six bytes for one, and the media: no more.
  if (message.size() > kMaxMessage) {
    out.refusal = "too large";
    return out;
  }
  const auto outer = nlohmann::json::parse(message, nullptr, false);
  if (!outer.is_object() || !outer.contains("signed") || !outer["signed"].is_string()) {
    out.refusal = "not a request";
    return out;
  }
  const std::string& text = outer["signed"].get_ref<const std::string&>();
  const auto inner = nlohmann::json::parse(text, nullptr, false);
  Request r;
  if (inner.is_object()) {
    if (auto id = inner.find("id"); id != inner.end() && id->is_string() && hex_of(id->get<std::string>(), 1, 64))
      out.id = id->get<std::string>();
  }
  // Nothing of an unsigned text is believed but the id its refusal goes to.
  if (!outer.contains("signature") || !outer["signature"].is_string()) {
    out.refusal = "unsigned";
    return out;
  }
  const auto signature = decode<crypto_sign_BYTES>(outer["signature"].get<std::string>());
  if (!signature || crypto_sign_verify_detached(signature->data(), reinterpret_cast<const unsigned char*>(text.data()),
                                                text.size(), hub.data()) != 0) {
    out.refusal = "not signed by the hub's key";
    return out;
  }
  auto field = [&](const char* key, std::string& target) {
    const auto it = inner.find(key);
    if (it == inner.end() || !it->is_string()) return false;
    target = it->get<std::string>();
    return true;
  };
  const auto time = inner.is_object() ? inner.find("time") : inner.end();
  if (!inner.is_object() || !field("id", r.id) || !field("site", r.site) || !field("nonce", r.nonce) ||
      !field("method", r.method) || !field("path", r.path) || !field("query", r.query) || !field("body", r.body) ||
      time == inner.end() || !time->is_number_integer()) {
    out.refusal = "not a request";
    return out;
  }
  r.time_ms = time->get<std::int64_t>();
  if (const auto media = inner.find("media"); media != inner.end()) {
    if (!media->is_array() || media->size() > kMaxMedia) {
      out.refusal = "\"media\" is not a list of at most 100 media";
      return out;
    }
    for (const auto& m : *media) {
      Media one;
      if (!m.is_object() || !m.value("url", nlohmann::json()).is_string() || !m.value("name", nlohmann::json()).is_string() ||
          !m.value("sha256", nlohmann::json()).is_string() || !m.value("size", nlohmann::json()).is_number_unsigned()) {
        out.refusal = "a medium needs url, name, size and sha256";
        return out;
      }
      one.url = m["url"].get<std::string>();
      one.name = m["name"].get<std::string>();
      one.sha256 = m["sha256"].get<std::string>();
      one.size = m["size"].get<std::uint64_t>();
      if (const std::string why = media_problem(one); !why.empty()) {
        out.refusal = why;
        return out;
      }
      r.media.push_back(std::move(one));
    }
  }
  if (const auto why = malformed(r)) {
    out.refusal = *why;
    return out;
  }
  if (r.site != "all" && r.site != site) {
    out.refusal = "for another site";
    return out;
  }
  if (r.time_ms < now_ms - guard.max_age_ms()) {
    out.refusal = "too old";
    return out;
  }
  if (r.time_ms > now_ms + kClockSkewMs) {
    out.refusal = "from the future: the hub's clock or this one is wrong";
    return out;
  }
  if (!guard.admit(r.nonce, r.time_ms, now_ms)) {
    out.refusal = "replayed";
    return out;
  }
  out.request = std::move(r);
  return out;
}

}  // namespace tavri::sites
