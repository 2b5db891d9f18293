#include "sites/hub_client.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "net/random_hex.h"

namespace tavri::sites {

namespace {

const std::string kSites = "tavri/v1/sites/";

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

HubClient::HubClient(LinkConfig link, SecretKey key, bool players) : key_(key), keep_players_(players) {
  // For the ids and nonces; the link is made whatever it says, so that the
  // destructor always has one to stop.
  [[maybe_unused]] const int sodium = sodium_init();
  link.client_id = "tavri-hub-" + net::random_hex(6);
  link.persistent_session = false;
  link.subscriptions = {kSites + "+/state", kSites + "+/seen", kSites + "+/replies/#"};
  if (players) link.subscriptions.push_back(kSites + "+/players/+");
  link.will_topic.clear();
  link_ = std::make_unique<MqttLink>(
      std::move(link), [this](const std::string& topic, const std::string& payload) { on_message(topic, payload); },
      [this](bool connected, const std::string& why) {
        const std::lock_guard lock(mutex_);
        connected_ = connected;
        if (!connected) refused_ = why;
        changed_.notify_all();
      });
}

HubClient::~HubClient() { link_->stop(); }

bool HubClient::start(std::string* why) { return link_->start(why); }

bool HubClient::connect(std::chrono::milliseconds timeout, std::string* why) {
  if (!start(why)) return false;
  std::unique_lock lock(mutex_);
  if (changed_.wait_for(lock, timeout, [this] { return connected_; })) return true;
  *why = refused_.empty() ? "no answer from the broker" : refused_;
  return false;
}

void HubClient::on_message(const std::string& topic, const std::string& payload) {
  if (!topic.starts_with(kSites)) return;
  const std::string rest = topic.substr(kSites.size());
  const auto slash = rest.find('/');
  if (slash == std::string::npos) return;
  const std::string site = rest.substr(0, slash), what = rest.substr(slash + 1);
  if (!valid_site_name(site)) return;
  const std::lock_guard lock(mutex_);
  if (what == "state") {
    const auto state = nlohmann::json::parse(payload, nullptr, false);
    if (!state.is_object()) return;
    SiteState& s = sites_[site];
    s.connected = state.value("connected", false);
    // A last will says only "gone": what the site told before stays, as its last known state.
    if (s.connected || s.state.empty()) s.state = payload;
    last_state_ = std::chrono::steady_clock::now();
  } else if (what == "seen") {
    const auto seen = nlohmann::json::parse(payload, nullptr, false);
    if (seen.is_number_integer()) sites_[site].seen_ms = seen.get<std::int64_t>();
  } else if (what.starts_with("replies/")) {
    // The first reply of each site counts; a broker's redelivery does not.
    const auto waiting = pending_.find(what.substr(8));
    if (waiting == pending_.end() || waiting->second.contains(site)) return;
    const auto reply = nlohmann::json::parse(payload, nullptr, false);
    if (!reply.is_object() || !reply.value("status", 0)) return;
    waiting->second[site] = {reply.value("status", 0), reply.value("body", std::string())};
  } else if (keep_players_ && what.starts_with("players/")) {
    if (payload.empty()) players_[site].erase(what.substr(8));
    else players_[site][what.substr(8)] = payload;
    return;
  } else {
    return;
  }
  changed_.notify_all();
}

std::map<std::string, SiteState> HubClient::sites(std::chrono::milliseconds quiet) {
  std::unique_lock lock(mutex_);
  // Retained states arrive at once after subscribing; the first may take a round trip.
  const auto started = std::chrono::steady_clock::now();
  while (true) {
    const auto since = last_state_ == std::chrono::steady_clock::time_point{} ? started : last_state_;
    if (std::chrono::steady_clock::now() - since >= quiet) break;
    changed_.wait_until(lock, since + quiet);
  }
  return sites_;
}

std::map<std::string, SiteReply> HubClient::request(Request r, const std::set<std::string>& expect,
                                                    std::chrono::milliseconds timeout) {
  r.id = net::random_hex(8);
  r.time_ms = now_ms();
  r.nonce = net::random_hex(16);
  const std::string site = r.site;
  {
    const std::lock_guard lock(mutex_);
    pending_[r.id];
  }
  const std::string topic = (site == "all" ? std::string("tavri/v1/all/") : kSites + site + "/") + "requests/" + r.id;
  link_->publish(topic, seal(r, key_), 1, false);
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    const auto& replies = pending_[r.id];
    return std::all_of(expect.begin(), expect.end(), [&](const std::string& s) { return replies.contains(s); });
  });
  auto replies = std::move(pending_[r.id]);
  pending_.erase(r.id);
  return replies;
}

std::map<std::string, SiteState> HubClient::snapshot() {
  const std::lock_guard lock(mutex_);
  return sites_;
}

std::vector<std::string> HubClient::players_of(const std::string& site) {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  if (const auto it = players_.find(site); it != players_.end())
    for (const auto& [id, json] : it->second) out.push_back(json);
  return out;
}

}  // namespace tavri::sites
