#include "sites/media_fetch.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace tavri::sites {

namespace {

bool ready() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK && sodium_init() >= 0;
  return ok;
}

std::string hex(const unsigned char* data, std::size_t size) {
  std::string out(size * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), data, size);
  out.pop_back();
  return out;
}

struct Transfer {
  const std::function<bool(const char*, std::size_t)>* write;
  crypto_hash_sha256_state hash;
  std::uint64_t received = 0, size = 0;
  bool too_long = false, refused = false;
  const std::atomic<bool>* cancel = nullptr;
};

std::size_t on_data(char* data, std::size_t, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  if (t->received + count > t->size) {
    t->too_long = true;
    return 0;
  }
  if (!(*t->write)(data, count)) {
    t->refused = true;
    return 0;
  }
  crypto_hash_sha256_update(&t->hash, reinterpret_cast<const unsigned char*>(data), count);
  t->received += count;
  return count;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* t = static_cast<Transfer*>(user);
  return t->cancel && t->cancel->load() ? 1 : 0;
}

}  // namespace

std::string media_problem(const Media& m) {
  if (!(m.url.starts_with("https://") || m.url.starts_with("http://")) || m.url.size() > 2048 ||
      std::any_of(m.url.begin(), m.url.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }))
    return "the medium's url is not http(s)://";
  if (m.name.empty() || m.name.size() > 255 || m.name.find('/') != std::string::npos || m.name == "." || m.name == "..")
    return "the medium's name is not a file name";
  if (m.sha256.size() != 64 ||
      !std::all_of(m.sha256.begin(), m.sha256.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
    return "the medium's sha256 is not 64 hex digits";
  if (m.size > (std::uint64_t(64) << 30)) return "the medium is larger than 64 GiB";
  return {};
}

std::string fetch(const Media& media, const std::function<bool(const char*, std::size_t)>& write,
                  const FetchOptions& options) {
  if (!ready()) return "cannot start libcurl";
  Transfer t{&write, {}, 0, media.size, false, false, options.cancel};
  crypto_hash_sha256_init(&t.hash);
  std::string last = "not tried";
  for (int attempt = 0; attempt < options.attempts; ++attempt) {
    CURL* curl = curl_easy_init();
    if (!curl) return "cannot start libcurl";
    std::array<char, CURL_ERROR_SIZE> error{};
    curl_easy_setopt(curl, CURLOPT_URL, media.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.connect_timeout_s);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.stall_timeout_s);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error.data());
    if (!options.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &on_data);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &on_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    // What came before stays: the rest is asked for. A server that
    // cannot send a range fails the resume rather than sending it all again.
    if (t.received > 0) curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(t.received));
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (rc == CURLE_OK && t.received == media.size) break;
    if (t.too_long) return "the origin sent more than the medium's size";
    if (t.refused) return "the content folder did not take it";
    if (options.cancel && options.cancel->load()) return "stopped";
    last = error[0] ? error.data() : curl_easy_strerror(rc);
    if (rc == CURLE_OK) last = "the origin sent less than the medium's size";
    if (rc == CURLE_RANGE_ERROR || rc == CURLE_HTTP_RETURNED_ERROR || rc == CURLE_UNSUPPORTED_PROTOCOL ||
        rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE)
      break;  // no use trying again
  }
  if (t.received != media.size) return "not fetched: " + last;
  std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
  crypto_hash_sha256_final(&t.hash, digest.data());
  if (hex(digest.data(), digest.size()) != media.sha256) return "its SHA-256 is not the one the hub signed";
  return {};
}

std::string sha256_of_file(const std::string& path) {
  if (!ready()) return {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  crypto_hash_sha256_state hash;
  crypto_hash_sha256_init(&hash);
  std::array<unsigned char, 1 << 16> block{};
  ssize_t n = 0;
  while ((n = ::read(fd, block.data(), block.size())) > 0) crypto_hash_sha256_update(&hash, block.data(), std::size_t(n));
  ::close(fd);
  if (n < 0) return {};
  std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
  crypto_hash_sha256_final(&hash, digest.data());
  return hex(digest.data(), digest.size());
}

}  // namespace tavri::sites
