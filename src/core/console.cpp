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
ConsoleListener& watch() {
  static ConsoleListener w;
  return w;
}
}  // namespace

void console_log(const QString& line) { console_log_lines({line}); }

void console_log_lines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  ConsoleListener copy, watching;
  {
    std::lock_guard lock(console_mutex());
    const QByteArray bytes = (lines.join('\n') + '\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    copy = listener();
    watching = watch();
  }
  for (const QString& line : lines) {
    if (copy) copy(line);
    if (watching) watching(line);
  }
}

void set_console_watch(ConsoleListener w) {
  std::lock_guard lock(console_mutex());
  watch() = std::move(w);
}

void set_console_listener(ConsoleListener l) {
  std::lock_guard lock(console_mutex());
  listener() = std::move(l);
}

}  // namespace tavri
