// A hub's signed requests as a site opens them, the broker's URL, and the
// media a request names as a site fetches them.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "sites/media_fetch.h"
#include "sites/mqtt_link.h"
#include "sites/signed_request.h"

using namespace tavri::sites;

namespace {

constexpr std::int64_t kNow = 1'800'000'000'000;
constexpr std::int64_t kDay = 24LL * 3600 * 1000;

struct Hub {
  KeyPair pair = create_key_pair();
  PublicKey pk = *public_key_of(pair.public_key);
  SecretKey sk = *secret_key_of(pair.secret_key);
};

Request request(std::string nonce = std::string(32, 'a'), std::string site = "shop-7", std::int64_t time = kNow) {
  return {"1f", std::move(site), time, std::move(nonce), "POST", "/api/send", "", R"({"playlist":"Promo","players":"all"})", {}};
}

}  // namespace

TEST(SignedRequests, OnlyTheHubsKeyForThisSiteWithinItsAgeAndOnceIsTaken) {
  Hub hub, other;
  ReplayGuard guard(kDay);
  const Opened ok = open(seal(request(), hub.sk), hub.pk, "shop-7", kNow + 1000, guard);
  ASSERT_TRUE(ok.request) << ok.refusal;
  EXPECT_EQ(ok.request->body, request().body);
  EXPECT_EQ(ok.request->path, "/api/send");

  struct Case {
    const char* what;
    std::string message;
    std::string refusal;
  };
  std::string tampered = seal(request(std::string(32, 'b')), hub.sk);
  tampered.replace(tampered.find("Promo"), 5, "Spoof");
  auto unsigned_ = nlohmann::json::parse(seal(request(std::string(32, 'c')), hub.sk));
  unsigned_.erase("signature");
  const Case cases[] = {
      {"replayed", seal(request(), hub.sk), "replayed"},
      {"changed after signing", tampered, "not signed by the hub's key"},
      {"another key", seal(request(std::string(32, 'd')), other.sk), "not signed by the hub's key"},
      {"unsigned", unsigned_.dump(), "unsigned"},
      {"another site", seal(request(std::string(32, 'e'), "shop-8"), hub.sk), "for another site"},
      {"older than a day", seal(request(std::string(32, 'f'), "shop-7", kNow - kDay - 1), hub.sk), "too old"},
      {"ten minutes ahead", seal(request(std::string(32, '1'), "all", kNow + 600'000), hub.sk),
       "from the future: the hub's clock or this one is wrong"},
      {"not JSON", "{\"signed\": 3", "not a request"},
  };
  for (const Case& c : cases) {
    const Opened refused = open(c.message, hub.pk, "shop-7", kNow, guard);
    EXPECT_FALSE(refused.request) << c.what;
    EXPECT_EQ(refused.refusal, c.refusal) << c.what;
  }
  // The refusal of an unsigned request still goes to the id it claimed.
  EXPECT_EQ(open(unsigned_.dump(), hub.pk, "shop-7", kNow, guard).id, "1f");
  // A request for every site is this site's too; a signed text that is no request is refused by its form.
  EXPECT_TRUE(open(seal(request(std::string(32, '2'), "all"), hub.sk), hub.pk, "shop-7", kNow, guard).request);
  Request bad = request(std::string(32, '3'));
  bad.path = "/healthz";
  EXPECT_EQ(open(seal(bad, hub.sk), hub.pk, "shop-7", kNow, guard).refusal, "the path is not an API path");
}

TEST(SignedRequests, TheNoncesTakenOutliveARestartAndAreForgottenPastTheAgeLimit) {
  Hub hub;
  ReplayGuard before(kDay);
  ASSERT_TRUE(open(seal(request(), hub.sk), hub.pk, "shop-7", kNow, before).request);
  ReplayGuard after(kDay);
  after.load(before.save(), kNow + 1000);
  EXPECT_EQ(open(seal(request(), hub.sk), hub.pk, "shop-7", kNow + 1000, after).refusal, "replayed");
  // A day later the nonce is forgotten, and the request is too old anyway.
  after.admit(std::string(32, '9'), kNow + kDay + 2, kNow + kDay + 2);
  EXPECT_EQ(after.size(), 1u);
  ReplayGuard full(kDay, 2);
  EXPECT_TRUE(full.admit(std::string(32, '1'), kNow, kNow));
  EXPECT_TRUE(full.admit(std::string(32, '2'), kNow, kNow));
  EXPECT_FALSE(full.admit(std::string(32, '3'), kNow, kNow));
}

TEST(BrokerUrl, TlsBeyondThisMachineAndAPortThatIsOne) {
  std::string why;
  const auto tls = parse_broker_url("mqtts://broker.example:8884", &why);
  ASSERT_TRUE(tls);
  EXPECT_EQ(tls->host, "broker.example");
  EXPECT_EQ(tls->port, 8884);
  EXPECT_TRUE(tls->tls);
  EXPECT_EQ(parse_broker_url("mqtts://[fd00::1]", &why)->port, 8883);
  EXPECT_EQ(parse_broker_url("mqtt://127.0.0.1", &why)->port, 1883);
  for (const char* bad : {"mqtt://10.0.0.5", "http://broker", "mqtts://", "mqtts://b:0", "mqtts://b:x", "mqtts://u@b",
                          "mqtts://b/path", "mqtts://b:"})
    EXPECT_FALSE(parse_broker_url(bad, &why)) << bad;
}

namespace {

// An origin on loopback that answers each connection with the next of
// `answers` (the raw bytes of a response), after reading its request,
// which it keeps.
class Origin {
 public:
  explicit Origin(std::vector<std::string> answers) : answers_(std::move(answers)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t length = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      for (const std::string& answer : answers_) {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
          const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          request.append(buffer, std::size_t(n));
        }
        requests.push_back(request);
        ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(c);
      }
    });
  }
  ~Origin() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/promo.png"; }
  std::vector<std::string> requests;

 private:
  std::vector<std::string> answers_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

const std::string kBody = "0123456789abcdefghij";

std::string sha256_of_text(const std::string& text) {
  char path[] = "/tmp/sites_test_XXXXXX";
  const int fd = ::mkstemp(path);
  const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  if (fd >= 0) ::close(fd);
  const std::string sha = written ? sha256_of_file(path) : "";
  ::unlink(path);
  return sha;
}

}  // namespace

TEST(MediaFetch, ABrokenTransferResumesWithARangeAndOnlyTheSignedBytesAreKept) {
  // The first answer breaks off after 8 of 20 bytes; the second sends the rest.
  Origin origin({"HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n" + kBody.substr(0, 8),
                 "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 8-19/20\r\nContent-Length: 12\r\n\r\n" + kBody.substr(8)});
  std::string kept;
  const auto sink = [&](const char* data, std::size_t size) {
    kept.append(data, size);
    return true;
  };
  Media m{origin.url(), "promo.png", kBody.size(), sha256_of_text(kBody)};
  ASSERT_EQ(m.sha256.size(), 64u);
  EXPECT_EQ(fetch(m, sink, {}), "");
  EXPECT_EQ(kept, kBody);
  ASSERT_EQ(origin.requests.size(), 2u);
  EXPECT_NE(origin.requests[1].find("Range: bytes=8-"), std::string::npos);

  // Bytes that are not the signed ones are refused, whatever their size.
  Origin forged({"HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n" + std::string(20, 'x')});
  m.url = forged.url();
  EXPECT_EQ(fetch(m, sink, {}), "its SHA-256 is not the one the hub signed");
  Origin longer({"HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\n" + kBody + "0123456789"});
  m.url = longer.url();
  EXPECT_EQ(fetch(m, sink, {}), "the origin sent more than the medium's size");
  Origin missing({"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"});
  m.url = missing.url();
  EXPECT_EQ(fetch(m, sink, {}).rfind("not fetched: ", 0), 0u);
  m.url = "file:///etc/passwd";
  EXPECT_EQ(media_problem(m), "the medium's url is not http(s)://");
}
