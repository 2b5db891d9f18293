#pragma once
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

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
  // subscriptions are the hub's own.
  HubClient(LinkConfig link, SecretKey key);
  ~HubClient();

  bool connect(std::chrono::milliseconds timeout, std::string* why);
  // Every site the broker kept a state of, once no new one came for `quiet`.
  std::map<std::string, SiteState> sites(std::chrono::milliseconds quiet);
  // `r` signed (its id, time and nonce made here) to its site (or "all");
  // the replies of the sites in `expect` as they come, until all came or
  // `timeout` passed.
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
  std::string waiting_id_;
  std::map<std::string, SiteReply> replies_;
};

}  // namespace tavri::sites
