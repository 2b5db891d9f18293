#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

// A connection to an MQTT broker on a thread of its own (libmosquitto's):
// it connects, subscribes again after each connect and reconnects with a
// growing pause, so nothing of the owner's waits on the network.
namespace tavri::sites {

struct BrokerUrl {
  std::string host;
  int port = 8883;
  bool tls = true;
};
// "mqtts://host[:8883]" or, on this machine only, "mqtt://127.0.0.1[:1883]";
// nothing, with the reason, for anything else.
std::optional<BrokerUrl> parse_broker_url(const std::string& url, std::string* why);

struct LinkConfig {
  BrokerUrl broker;
  std::string client_id;
  bool persistent_session = false;  // the broker keeps QoS 1 messages while we are away
  int keepalive_s = 30;
  std::string user, password;
  std::string ca_file;                // empty: the system's authorities
  std::string cert_file, key_file;    // a client certificate, instead of or with a password
  std::string will_topic, will_payload;  // retained, QoS 1, sent by the broker when we vanish
  std::vector<std::string> subscriptions;  // QoS 1
};

class MqttLink {
 public:
  // On the link's thread.
  using OnMessage = std::function<void(const std::string& topic, const std::string& payload)>;
  using OnConnection = std::function<void(bool connected, const std::string& why)>;

  MqttLink(LinkConfig config, OnMessage on_message, OnConnection on_connection);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Starts the thread; false, with why, when the settings cannot be used.
  bool start(std::string* why);
  // Leaves the broker cleanly (no last will) and joins the thread.
  void stop();
  // From any thread. While the link is down QoS 0 messages are dropped
  // and QoS 1 ones wait in libmosquitto's queue; false when refused.
  bool publish(const std::string& topic, const std::string& payload, int qos, bool retain);
  bool connected() const { return connected_; }

 private:
  static void on_connect(mosquitto*, void* self, int rc);
  static void on_disconnect(mosquitto*, void* self, int rc);
  static void on_message(mosquitto*, void* self, const mosquitto_message* message);

  LinkConfig config_;
  OnMessage on_message_;
  OnConnection on_connection_;
  mosquitto* handle_ = nullptr;
  bool running_ = false;
  std::atomic<bool> connected_{false};
};

}  // namespace tavri::sites
