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

void Bus::unregister(const void* observer) {
  std::lock_guard lock(mutex_);
  auto it = std::remove_if(entries_.begin(), entries_.end(), [&](const auto& e) {
    if (e->observer != observer) return false;
    e->active = false;  // a delivery already in progress skips it
    return true;
  });
  entries_.erase(it, entries_.end());
}

void Bus::post(const QString& name, const QVariant& object) {
  // Deliver from a snapshot so handlers can touch the bus without deadlock.
  std::vector<std::shared_ptr<Entry>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_)
      if (e->name == name) targets.push_back(e);
  }
  for (const auto& e : targets)
    if (e->active) e->handler(object);
}

std::size_t Bus::observer_count(const QString& name) const {
  std::lock_guard lock(mutex_);
  return std::count_if(entries_.begin(), entries_.end(),
                       [&](const auto& e) { return e->name == name; });
}

}  // namespace tavri
