#include "sites/mqtt_link.h"

#include <arpa/inet.h>
#include <mosquitto.h>

#include <cstdlib>
#include <mutex>

namespace tavri::sites {

namespace {

void library_ready() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

bool loopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return host == "::1" || host == "[::1]";
}

}  // namespace

std::optional<BrokerUrl> parse_broker_url(const std::string& url, std::string* why) {
  BrokerUrl out;
  std::string rest;
  if (url.starts_with("mqtts://")) rest = url.substr(8);
  else if (url.starts_with("mqtt://")) {
    rest = url.substr(7);
    out.tls = false;
    out.port = 1883;
  } else {
    *why = "the broker's URL must be mqtts://HOST[:PORT]";
    return std::nullopt;
  }
  if (const auto slash = rest.find('/'); slash != std::string::npos) {
    if (slash + 1 != rest.size()) {
      *why = "the broker's URL has no path";
      return std::nullopt;
    }
    rest.pop_back();
  }
  std::string port;
  if (rest.starts_with('[')) {  // [::1]:8883
    const auto close = rest.find(']');
    if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':') port = rest.substr(close + 2);
    rest = close == std::string::npos || (close + 1 < rest.size() && rest[close + 1] != ':') ? "" : rest.substr(1, close - 1);
  } else if (const auto colon = rest.find(':'); colon != std::string::npos) {
    port = rest.substr(colon + 1);
    rest.resize(colon);
  }
  if (!port.empty() || (rest.size() && url.back() == ':')) {
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || n < 1 || n > 65535) {
      *why = "the broker's port is not a port (1-65535)";
      return std::nullopt;
    }
    out.port = static_cast<int>(n);
  }
  if (rest.empty() || rest.find_first_of(" /@?#[]") != std::string::npos) {
    *why = "the broker's URL has no host";
    return std::nullopt;
  }
  out.host = rest;
  // Credentials and signed requests cross this link: in clear text only
  // on this machine.
  if (!out.tls && !loopback(out.host)) {
    *why = "a broker beyond this machine needs TLS: mqtts://";
    return std::nullopt;
  }
  return out;
}

MqttLink::MqttLink(LinkConfig config, OnMessage on_message, OnConnection on_connection)
    : config_(std::move(config)), on_message_(std::move(on_message)), on_connection_(std::move(on_connection)) {}

MqttLink::~MqttLink() {
  stop();
  if (handle_) mosquitto_destroy(handle_);
}

bool MqttLink::start(std::string* why) {
  library_ready();
  handle_ = mosquitto_new(config_.client_id.empty() ? nullptr : config_.client_id.c_str(),
                          !config_.persistent_session, this);
  if (!handle_) {
    *why = "cannot make an MQTT client";
    return false;
  }
  mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  // Requests and replies are small: not held back to fill a segment.
  mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);
  auto failed = [&](int rc, const char* what) {
    *why = std::string(what) + ": " + mosquitto_strerror(rc);
    return false;
  };
  int rc = MOSQ_ERR_SUCCESS;
  if (!config_.user.empty() &&
      (rc = mosquitto_username_pw_set(handle_, config_.user.c_str(),
                                      config_.password.empty() ? nullptr : config_.password.c_str())) != MOSQ_ERR_SUCCESS)
    return failed(rc, "the broker's user");
  if (config_.broker.tls) {
    rc = mosquitto_tls_set(handle_, config_.ca_file.empty() ? nullptr : config_.ca_file.c_str(),
                           config_.ca_file.empty() ? "/etc/ssl/certs" : nullptr,
                           config_.cert_file.empty() ? nullptr : config_.cert_file.c_str(),
                           config_.key_file.empty() ? nullptr : config_.key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) return failed(rc, "the broker's TLS files");
  }
  if (!config_.will_topic.empty() &&
      (rc = mosquitto_will_set(handle_, config_.will_topic.c_str(), static_cast<int>(config_.will_payload.size()),
                               config_.will_payload.data(), 1, true)) != MOSQ_ERR_SUCCESS)
    return failed(rc, "the last will");
  mosquitto_connect_callback_set(handle_, &MqttLink::on_connect);
  mosquitto_disconnect_callback_set(handle_, &MqttLink::on_disconnect);
  mosquitto_message_callback_set(handle_, &MqttLink::on_message);
  mosquitto_reconnect_delay_set(handle_, 1, 30, true);
  // A broker that cannot be reached now is tried again by the thread.
  rc = mosquitto_connect_async(handle_, config_.broker.host.c_str(), config_.broker.port, config_.keepalive_s);
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_EAI) return failed(rc, "the broker");
  if ((rc = mosquitto_loop_start(handle_)) != MOSQ_ERR_SUCCESS) return failed(rc, "the MQTT thread");
  running_ = true;
  return true;
}

void MqttLink::stop() {
  if (!running_) return;
  running_ = false;
  mosquitto_disconnect(handle_);
  mosquitto_loop_stop(handle_, false);
  connected_ = false;
}

bool MqttLink::publish(const std::string& topic, const std::string& payload, int qos, bool retain) {
  if (!handle_ || (qos == 0 && !connected_)) return false;
  return mosquitto_publish(handle_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                           retain) == MOSQ_ERR_SUCCESS;
}

void MqttLink::on_connect(mosquitto* handle, void* self, int rc) {
  auto* link = static_cast<MqttLink*>(self);
  if (rc != 0) {
    link->on_connection_(false, mosquitto_connack_string(rc));
    return;
  }
  for (const std::string& topic : link->config_.subscriptions) mosquitto_subscribe(handle, nullptr, topic.c_str(), 1);
  link->connected_ = true;
  link->on_connection_(true, {});
}

void MqttLink::on_disconnect(mosquitto*, void* self, int rc) {
  auto* link = static_cast<MqttLink*>(self);
  const bool was = link->connected_.exchange(false);
  if (was) link->on_connection_(false, rc == 0 ? "left the broker" : mosquitto_strerror(rc));
}

void MqttLink::on_message(mosquitto*, void* self, const mosquitto_message* message) {
  auto* link = static_cast<MqttLink*>(self);
  link->on_message_(message->topic,
                    std::string(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen)));
}

}  // namespace tavri::sites
