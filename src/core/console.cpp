#include "console.h"

#include <cstdio>
#include <mutex>

namespace tavri {
namespace {
std::mutex& console_mutex() {
  static std::mutex m;
  return m;
}
ConsoleListener& listener() {
  static ConsoleListener l;
  return l;
}
}  // namespace

void console_log(const QString& line) {
  ConsoleListener copy;
  {
    std::lock_guard lock(console_mutex());
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    copy = listener();
  }
  if (copy) copy(line);
}

void set_console_listener(ConsoleListener l) {
  std::lock_guard lock(console_mutex());
  listener() = std::move(l);
}

}  // namespace tavri
