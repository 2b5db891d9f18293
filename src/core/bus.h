#pragma once
#include <QVariant>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tavri {

// Process-wide named notifications, delivered synchronously on the posting
// thread in registration order. Safe to use from any thread; a handler may
// post, register or unregister from inside a delivery.
class Bus {
 public:
  using Handler = std::function<void(const QVariant& object)>;

  static Bus& instance();

  void register_observer(const void* observer, const QString& name, Handler handler);
  // Also waits for deliveries to the observer still running on other
  // threads, so the observer can go once this returns.
  void unregister(const void* observer);
  void post(const QString& name, const QVariant& object = {});

  // Number of live registrations for a name (tests and diagnostics).
  std::size_t observer_count(const QString& name) const;

 private:
  struct Entry {
    const void* observer;
    QString name;
    Handler handler;
    std::atomic<bool> active{true};
    int running = 0;  // deliveries in progress, under the bus's mutex
  };
  mutable std::mutex mutex_;
  std::condition_variable delivered_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace tavri
