#include "main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace tavri {

void run_next(std::function<void()> fn) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void run_after(double seconds, std::function<void()> fn) {
  auto* app = QCoreApplication::instance();
  const int ms = static_cast<int>(seconds * 1000.0 + 0.5);
  if (QThread::currentThread() == app->thread()) {
    QTimer::singleShot(ms, app, std::move(fn));
    return;
  }
  QMetaObject::invokeMethod(
      app, [app, ms, fn = std::move(fn)]() mutable { QTimer::singleShot(ms, app, std::move(fn)); },
      Qt::QueuedConnection);
}

}  // namespace tavri
