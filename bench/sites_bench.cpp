// Many sites' MQTT presence from one process, and the hub's view of them.
//   sites_bench sim BROKER_URL HUB_PUBLIC_KEY SITES PLAYERS [FIRST]
//       light sites (site-FIRST, ...; libmosquitto's loop uses select(), so
//       a process holds at most about 300 sites): each connects with its last will, publishes its state,
//       its players (retained) and its "seen", and answers the hub's signed
//       requests after checking them, as a site does; runs until killed
//   sites_bench request BROKER_URL HUB_KEY_FILE SITES [ROUNDS]
//       one signed request to all sites, timed until every site replied
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "sites/hub_client.h"
#include "sites/mqtt_link.h"
#include "sites/signed_request.h"

using namespace tavri::sites;
using Clock = std::chrono::steady_clock;

namespace {

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct LightSite {
  std::string name;
  int players = 0;
  PublicKey hub{};
  ReplayGuard guard{24LL * 3600 * 1000};
  std::unique_ptr<MqttLink> link;

  void start(const BrokerUrl& broker) {
    LinkConfig config;
    config.broker = broker;
    config.client_id = "bench-site-" + name;
    config.persistent_session = true;
    config.keepalive_s = 30;
    config.subscriptions = {"tavri/v1/sites/" + name + "/requests/#", "tavri/v1/all/requests/#"};
    config.will_topic = "tavri/v1/sites/" + name + "/state";
    config.will_payload = nlohmann::json{{"name", name}, {"connected", false}}.dump();
    const std::string root = "tavri/v1/sites/" + name + "/";
    link = std::make_unique<MqttLink>(
        config,
        [this, root](const std::string&, const std::string& payload) {
          // One link thread per site: the guard is this thread's alone.
          const Opened opened = open(payload, hub, name, now_ms(), guard);
          const int status = opened.request ? 200 : 401;
          link->publish(root + "replies/" + opened.id,
                        nlohmann::json{{"id", opened.id}, {"status", status}, {"body", "{}"}}.dump(), 1, false);
        },
        [this, root](bool connected, const std::string&) {
          if (!connected) return;
          link->publish(root + "state",
                        nlohmann::json{{"name", name}, {"connected", true},
                                       {"players", {{"online", players}, {"offline", 0}}}, {"groups", nlohmann::json::object()},
                                       {"alerts", nlohmann::json::array()}}.dump(), 1, true);
          link->publish(root + "seen", std::to_string(now_ms()), 0, true);
          for (int p = 0; p < players; ++p) {
            char id[32];
            std::snprintf(id, sizeof id, "P-%04d", p);
            link->publish(root + "players/" + id,
                          nlohmann::json{{"id", id}, {"name", std::string("Player ") + id}, {"online", true},
                                         {"state", "READY"}, {"playback", "play"}}.dump(), 1, true);
          }
        });
    std::string why;
    if (!link->start(&why)) std::fprintf(stderr, "site %s: %s\n", name.c_str(), why.c_str());
  }
};

int sim(const BrokerUrl& broker, const std::string& public_key, int sites, int players, int first) {
  const auto hub = public_key_of(public_key);
  if (!hub) return std::fprintf(stderr, "not a public key\n"), 2;
  std::vector<std::unique_ptr<LightSite>> all;
  for (int i = 0; i < sites; ++i) {
    auto site = std::make_unique<LightSite>();
    char name[32];
    std::snprintf(name, sizeof name, "site-%03d", first + i);
    site->name = name;
    site->players = players;
    site->hub = *hub;
    site->start(broker);
    all.push_back(std::move(site));
  }
  std::printf("%d sites started\n", sites);
  std::fflush(stdout);
  while (true) std::this_thread::sleep_for(std::chrono::hours(1));
}

int request(const BrokerUrl& broker, const std::string& key_file, int sites, int rounds) {
  std::ifstream in(key_file);
  std::string text;
  in >> text;
  const auto key = secret_key_of(text);
  if (!key) return std::fprintf(stderr, "not a key file\n"), 2;
  LinkConfig link;
  link.broker = broker;
  HubClient hub(link, *key);
  std::string why;
  if (!hub.connect(std::chrono::seconds(10), &why)) return std::fprintf(stderr, "%s\n", why.c_str()), 3;
  std::set<std::string> expect;
  for (const auto& [name, site] : hub.sites(std::chrono::milliseconds(500)))
    if (site.connected) expect.insert(name);
  if (int(expect.size()) != sites) std::fprintf(stderr, "only %zu of %d sites are online\n", expect.size(), sites);
  auto once = [&](const std::string& target, const std::set<std::string>& wanted) {
    Request r;
    r.site = target;
    r.method = "GET";
    r.path = "/api/status";
    const auto start = Clock::now();
    const auto replies = hub.request(r, wanted, std::chrono::seconds(60));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const bool all_ok = replies.size() == wanted.size() &&
                        std::all_of(replies.begin(), replies.end(), [](const auto& reply) { return reply.second.status == 200; });
    return std::pair{ms, all_ok};
  };
  std::vector<double> to_all, to_one;
  for (int i = 0; i < rounds; ++i) {
    const auto [ms, ok] = once("all", expect);
    if (!ok) std::fprintf(stderr, "round %d: not every site replied 200\n", i);
    to_all.push_back(ms);
    const std::string first = *expect.begin();
    to_one.push_back(once(first, {first}).first);
  }
  std::sort(to_all.begin(), to_all.end());
  std::sort(to_one.begin(), to_one.end());
  std::printf("request to all %zu sites until all replied: median %.1f ms, max %.1f ms\n", expect.size(),
              to_all[to_all.size() / 2], to_all.back());
  std::printf("reference, the same request to one site: median %.1f ms, max %.1f ms\n", to_one[to_one.size() / 2],
              to_one.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  std::string why;
  const auto broker = a.size() >= 2 ? parse_broker_url(a[1], &why) : std::nullopt;
  if (a.size() >= 5 && a[0] == "sim" && broker)
    return sim(*broker, a[2], std::stoi(a[3]), std::stoi(a[4]), a.size() > 5 ? std::stoi(a[5]) : 0);
  if (a.size() >= 4 && a[0] == "request" && broker)
    return request(*broker, a[2], std::stoi(a[3]), a.size() > 4 ? std::stoi(a[4]) : 10);
  std::fprintf(stderr, "usage: sites_bench sim BROKER_URL HUB_PUBLIC_KEY SITES PLAYERS [FIRST]\n"
                       "       sites_bench request BROKER_URL HUB_KEY_FILE SITES [ROUNDS]\n");
  return 2;
}
