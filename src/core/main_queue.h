#pragma once
#include <functional>

namespace tavri {

// Runs fn on the main thread's event loop after the current event.
void run_next(std::function<void()> fn);
// Runs fn on the main thread after the given number of seconds.
void run_after(double seconds, std::function<void()> fn);

}  // namespace tavri
