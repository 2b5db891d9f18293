#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "notify/message.h"

// Where notifications go (webhooks and one mail account), kept in a JSON
// file only the service's user can read (it holds secrets), and their
// delivery: a thread of its own sends each message to each target, retried
// with backoff, so nothing here waits on the network for the caller.
namespace tavri::notify {

struct Webhook {
  std::string name, url, secret;
};

struct Mail {
  std::string server;               // host:port
  std::string security = "starttls";  // "starttls", "tls" (from the first byte), or "none"
  std::string user, password, from, ca_file;
  std::vector<std::string> to;
};

// The last delivery to a target, for the operator.
struct Delivery {
  std::int64_t time = 0;  // seconds since the epoch; 0: none yet
  bool ok = false;
  std::string detail;  // "200", "refused: 550 ...", "no answer: ..."
};

class Notifier {
 public:
  static constexpr std::size_t kMaxWebhooks = 16, kMaxQueued = 1000;

  struct Timing {
    std::vector<std::chrono::milliseconds> retries{std::chrono::seconds(10), std::chrono::minutes(1),
                                                   std::chrono::minutes(5), std::chrono::minutes(30)};
    std::chrono::seconds timeout{15};
  };

  explicit Notifier(std::string file) : Notifier(std::move(file), Timing()) {}
  Notifier(std::string file, Timing timing);
  ~Notifier();  // what is queued and not yet sent is dropped
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Changes: nothing when done, else the reason; a refused change changes nothing.
  // A hook without a secret is given a new one, which `secret` returns once.
  std::optional<std::string> set_webhook(Webhook hook, std::string* secret = nullptr);
  std::optional<std::string> remove_webhook(const std::string& name);
  // An empty password keeps the one already set for the same server and login.
  std::optional<std::string> set_mail(Mail mail);
  std::optional<std::string> remove_mail();

  // The targets without their secrets, and each one's last delivery, as JSON.
  std::string describe();
  bool has_targets();

  // To every target.
  void send(const Message& message);
  // To one, tried once: "mail" or a webhook's name; `done` is called on the
  // delivery thread with the outcome. False when there is no such target.
  bool send_to(const std::string& target, const Message& message, std::function<void(const Delivery&)> done = {});
  // Called on the delivery thread after each attempt that ends a delivery.
  void on_delivered(std::function<void(const std::string& target, const Delivery&)> callback);
  // Blocks until nothing is queued or being sent (tests), or the deadline.
  bool idle_within(std::chrono::milliseconds deadline);
  // Attempts that failed, retried ones included (the metrics).
  std::uint64_t failed_deliveries() const { return failed_.load(); }

 private:
  struct Job {
    std::string target;  // "mail" or "webhook NAME"
    Message message;
    std::size_t attempt = 0;
    std::chrono::steady_clock::time_point due;
    std::function<void(const Delivery&)> done;
  };
  void load();
  std::optional<std::string> save();  // under the mutex
  void work();
  Delivery deliver(const Job& job);
  void queue(Job job);  // under the mutex

  const std::string file_;
  const Timing timing_;
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::vector<Webhook> hooks_;
  std::optional<Mail> mail_;
  std::vector<std::pair<std::string, Delivery>> last_;
  std::deque<Job> jobs_;
  bool sending_ = false, stopping_ = false;
  std::uint64_t serial_ = 0;
  std::atomic<std::uint64_t> failed_{0};
  std::function<void(const std::string&, const Delivery&)> delivered_;
  std::thread thread_;
};

}  // namespace tavri::notify
