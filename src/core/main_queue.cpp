#include "main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#if defined(__SANITIZE_THREAD__)
#define TAVRI_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVRI_TSAN 1
#endif
#endif
#ifdef TAVRI_TSAN
#include <mutex>
#endif

namespace tavri {

#ifdef TAVRI_TSAN
namespace {
// Qt is not built with ThreadSanitizer, so it cannot see that a queued call
// runs after it was posted. A handoff through a mutex it sees says so:
// everything the poster wrote happens before the call.
std::mutex& handoff() {
  static std::mutex m;
  return m;
}
}  // namespace

void post_to(QObject* context, std::function<void()> fn) {
  std::lock_guard lock(handoff());
  QMetaObject::invokeMethod(
      context,
      [fn = std::move(fn)] {
        { std::lock_guard after(handoff()); }
        fn();
      },
      Qt::QueuedConnection);
}
#else
void post_to(QObject* context, std::function<void()> fn) {
  QMetaObject::invokeMethod(context, std::move(fn), Qt::QueuedConnection);
}
#endif

void run_next(std::function<void()> fn) { post_to(QCoreApplication::instance(), std::move(fn)); }

void run_after(double seconds, std::function<void()> fn) {
  auto* app = QCoreApplication::instance();
  const int ms = static_cast<int>(seconds * 1000.0 + 0.5);
  if (QThread::currentThread() == app->thread()) {
    QTimer::singleShot(ms, app, std::move(fn));
    return;
  }
  post_to(app, [app, ms, fn = std::move(fn)]() mutable { QTimer::singleShot(ms, app, std::move(fn)); });
}

}  // namespace tavri
