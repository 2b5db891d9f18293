// A hub's signed requests as a site opens them, and the broker's URL.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
