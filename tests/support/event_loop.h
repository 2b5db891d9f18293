#pragma once
#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace tavri::test {

// Runs the main event loop until the condition holds or the time runs out;
// the default deadline is a sanitizer build's on a busy machine (a test that
// passes returns as soon as the condition holds).
inline bool spin_until(const std::function<bool()>& done, int timeout_ms = 60000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

inline void spin_for(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace tavri::test
