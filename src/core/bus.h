#pragma once
#include <QVariant>
#include <QString>
#include <atomic>
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
  };
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace tavri
