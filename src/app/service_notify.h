#pragma once
#include <QObject>
#include <QTimer>

namespace tavri {

// What systemd hears from a service of Type=notify: ready once everything
// listens, a watchdog ping from the main thread (a main thread that hangs
// stops pinging and gets restarted), and stopping. Does nothing when not
// started by systemd.
class ServiceNotify : public QObject {
 public:
  ServiceNotify();
  void ready(const QString& status);
  void stopping();

 private:
  QTimer watchdog_;
};

}  // namespace tavri
