#pragma once
#include <functional>

class QObject;

namespace tavri {

// Runs fn on the context's thread, queued, from any thread. The context
// must be alive when this is called; a call still queued when it goes is
// dropped with it.
void post_to(QObject* context, std::function<void()> fn);

// Runs fn on the main thread's event loop after the current event.
void run_next(std::function<void()> fn);
// Runs fn on the main thread after the given number of seconds.
void run_after(double seconds, std::function<void()> fn);

}  // namespace tavri
