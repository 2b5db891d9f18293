#include "app/service_notify.h"

#include <systemd/sd-daemon.h>

namespace tavri {

ServiceNotify::ServiceNotify() {
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
    watchdog_.setInterval(static_cast<int>(usec / 1000 / 2));
    connect(&watchdog_, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
    watchdog_.start();
  }
}

void ServiceNotify::ready(const QString& status) {
  sd_notify(0, ("READY=1\nSTATUS=" + status.toUtf8()).constData());
}

void ServiceNotify::stopping() { sd_notify(0, "STOPPING=1"); }

}  // namespace tavri
