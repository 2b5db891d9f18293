#pragma once
#include <QString>
#include <QStringList>
#include <functional>

namespace tavri {

// The console log: short tags on standard error. Tests may add a listener
// to see every line.
void console_log(const QString& line);
// The same lines, written in one go (a map of ten thousand players logs a
// line for each).
void console_log_lines(const QStringList& lines);

// The last lines, for an operator looking back (GET /api/log): at most a
// thousand, without the lines every feedback and every map icon writes.
struct ConsoleLine {
  qint64 time_ms;
  QString text;
};
QList<ConsoleLine> recent_console_lines(int most);

using ConsoleListener = std::function<void(const QString&)>;
void set_console_listener(ConsoleListener listener);
// The running server's own watch on the lines (failing storage is told to
// the operator's notifications), apart from the tests' listener.
void set_console_watch(ConsoleListener watch);

}  // namespace tavri
