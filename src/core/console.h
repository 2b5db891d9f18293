#pragma once
#include <QString>
#include <functional>

namespace tavri {

// The console log: short tags on standard error. Tests may add a listener
// to see every line.
void console_log(const QString& line);

using ConsoleListener = std::function<void(const QString&)>;
void set_console_listener(ConsoleListener listener);

}  // namespace tavri
