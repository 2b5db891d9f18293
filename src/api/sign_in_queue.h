#pragma once
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_set>

namespace tavri::api {

// Sign-ins wait their turn for the password hash: one at a time per source,
// sources in the order they came, a few hashing at once. A flood from other
// sources delays the operator's sign-in by at most one hash per source
// ahead of it, and never turns it away; a source cannot queue twice. The
// hash takes tens of milliseconds and about 19 MiB, so the hashing threads
// also bound the memory a flood takes. Thread-safe.
class SignInQueue {
 public:
  enum class Queued { yes, source_busy, full };

  SignInQueue(int hashing, std::size_t most_sources) : hashing_(hashing), most_sources_(most_sources) {}

  // `check` runs on a hashing thread when the source's turn comes. What it
  // returns (its answer, when it has one) runs once the source is free
  // again, so that a source told its outcome can try again at once.
  using Check = std::function<std::function<void()>()>;
  Queued submit(const std::string& source, Check check);

  // The one queue of the process: its threads outlive any listener.
  static SignInQueue& shared();

 private:
  void work();

  const int hashing_;
  const std::size_t most_sources_;
  std::mutex mutex_;
  std::deque<std::pair<std::string, Check>> waiting_;
  std::unordered_set<std::string> sources_;  // waiting or being checked
  int running_ = 0;
};

}  // namespace tavri::api
