#include "bus.h"

#include <algorithm>

namespace tavri {

Bus& Bus::instance() {
  static Bus bus;
  return bus;
}

void Bus::register_observer(const void* observer, const QString& name, Handler handler) {
  auto entry = std::make_shared<Entry>();
  entry->observer = observer;
  entry->name = name;
  entry->handler = std::move(handler);
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(entry));
}

namespace {
// The entries being delivered on this thread: a handler that unregisters
// its own observer must not wait for itself.
thread_local std::vector<const void*> delivering;
}  // namespace

void Bus::unregister(const void* observer) {
  std::unique_lock lock(mutex_);
  std::vector<std::shared_ptr<Entry>> removed;
  auto it = std::remove_if(entries_.begin(), entries_.end(), [&](const auto& e) {
    if (e->observer != observer) return false;
    e->active = false;  // a delivery not yet begun skips it
    removed.push_back(e);
    return true;
  });
  entries_.erase(it, entries_.end());
  delivered_.wait(lock, [&] {
    return std::all_of(removed.begin(), removed.end(), [](const auto& e) {
      return e->running == std::count(delivering.begin(), delivering.end(), e.get());
    });
  });
}

void Bus::post(const QString& name, const QVariant& object) {
  // Deliver from a snapshot so handlers can touch the bus without deadlock.
  std::vector<std::shared_ptr<Entry>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_)
      if (e->name == name) targets.push_back(e);
  }
  for (const auto& e : targets) {
    {
      std::lock_guard lock(mutex_);
      if (!e->active) continue;
      ++e->running;
    }
    delivering.push_back(e.get());
    struct Done {
      Bus& bus;
      Entry& entry;
      ~Done() {
        delivering.pop_back();
        std::lock_guard lock(bus.mutex_);
        --entry.running;
        bus.delivered_.notify_all();
      }
    } done{*this, *e};
    e->handler(object);
  }
}

std::size_t Bus::observer_count(const QString& name) const {
  std::lock_guard lock(mutex_);
  return std::count_if(entries_.begin(), entries_.end(),
                       [&](const auto& e) { return e->name == name; });
}

}  // namespace tavri
