#pragma once
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sites/mqtt_link.h"
#include "sites/signed_request.h"

// The hub's side of the broker, for a command line or a benchmark: the
// sites as they last told their state, and requests signed with the hub's
// key, their replies gathered with a deadline.
namespace tavri::sites {

struct SiteState {
  bool connected = false;
  std::string state;           // the site's last "state" message (JSON)
  std::int64_t seen_ms = 0;    // its last "seen" time; 0: never told
};

struct SiteReply {
  int status = 0;
  std::string body;
};

class HubClient {
 public:
  // `link`: the broker and the hub's credentials; its client id and
  // subscriptions are the hub's own. `players`: also keep every site's
  // players as they publish them (a console's view).
  HubClient(LinkConfig link, SecretKey key, bool players = false);
  ~HubClient();

  // Starts the link, which connects and reconnects on its own.
  bool start(std::string* why);
  // Starts it and waits until it is connected.
  bool connect(std::chrono::milliseconds timeout, std::string* why);
  bool connected() const { return link_->connected(); }
  // What is known now, without waiting.
  std::map<std::string, SiteState> snapshot();
  // A site's players, each as the site's API gives it (JSON).
  std::vector<std::string> players_of(const std::string& site);
  // Every site the broker kept a state of, once no new one came for `quiet`.
  std::map<std::string, SiteState> sites(std::chrono::milliseconds quiet);
  // `r` signed (its id, time and nonce made here) to its site (or "all");
  // the replies of the sites in `expect` as they come, until all came or
  // `timeout` passed. From any thread; several may wait at once.
  std::map<std::string, SiteReply> request(Request r, const std::set<std::string>& expect,
                                           std::chrono::milliseconds timeout);

 private:
  void on_message(const std::string& topic, const std::string& payload);

  SecretKey key_;
  std::unique_ptr<MqttLink> link_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  std::string refused_;
  std::map<std::string, SiteState> sites_;
  std::chrono::steady_clock::time_point last_state_{};
  bool keep_players_ = false;
  std::map<std::string, std::map<std::string, std::string>> players_;  // site -> id -> JSON
  std::map<std::string, std::map<std::string, SiteReply>> pending_;   // request id -> site -> reply
};

}  // namespace tavri::sites
