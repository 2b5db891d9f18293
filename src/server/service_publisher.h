#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tavri::http {

// Announces one service by DNS service discovery through the Avahi daemon.
// All Avahi work runs on one publication thread per process, started on
// first use; each step waits until that thread has done it. Without a
// daemon the failure is logged and nothing else happens.
class ServicePublisher {
 public:
  ServicePublisher(std::string domain, std::string type, std::string name, std::uint16_t port);
  ~ServicePublisher();
  ServicePublisher(const ServicePublisher&) = delete;
  ServicePublisher& operator=(const ServicePublisher&) = delete;

  // Tests switch publication off for the whole process: an announcement on
  // a shared network is traffic beyond loopback.
  static void set_enabled(bool enabled);

  void publish();
  void stop();
  // The registered name once publication succeeded.
  std::optional<std::string> published_name() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace tavri::http
