#include "console.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <deque>
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
constexpr std::size_t kRecentLines = 1000;
std::deque<ConsoleLine>& recent() {
  static std::deque<ConsoleLine> lines;
  return lines;
}
// Written for each player heard or placed: ten thousand players would push
// everything else out.
bool chatter(const QString& line) {
  static const QStringList kinds{"RECEIVE FROM", "ADD DEVICE", "INSERT:", "neues ICON", "SELECTION CHANGE", "SAVE DEVICES"};
  return std::any_of(kinds.begin(), kinds.end(), [&](const QString& k) { return line.startsWith(k); });
}
}  // namespace

QList<ConsoleLine> recent_console_lines(int most) {
  std::lock_guard lock(console_mutex());
  const std::deque<ConsoleLine>& lines = recent();
  const std::size_t n = std::min(lines.size(), std::size_t(std::max(0, most)));
  return QList<ConsoleLine>(lines.end() - std::ptrdiff_t(n), lines.end());
}

void console_log(const QString& line) { console_log_lines({line}); }

void console_log_lines(const QStringList& lines) {
  if (lines.isEmpty()) return;
  ConsoleListener copy, watching;
  {
    std::lock_guard lock(console_mutex());
    const QByteArray bytes = (lines.join('\n') + '\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    qint64 now = 0;  // read only for a line kept: feedback's lines come thousands a second
    for (const QString& line : lines) {
      if (chatter(line)) continue;
      if (!now) now = QDateTime::currentMSecsSinceEpoch();
      recent().push_back({now, line});
      if (recent().size() > kRecentLines) recent().pop_front();
    }
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
