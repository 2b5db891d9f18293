#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "sim_player.h"

namespace tavri::sim {

struct FleetOptions {
  int players = 10;
  std::string prefix = "SIM";
  double interval = 2.0;            // seconds between two feedbacks of one player
  std::string target = "127.0.0.1";  // where feedback goes
  bool broadcast = false;           // feedback to 255.255.255.255 instead
  std::string server;               // HTTP server; empty: the command's sender
  std::string bind = "0.0.0.0";     // source address of feedback
  std::string interface;            // commands only from this interface (SO_BINDTODEVICE)
  double loss = 0;                  // share of datagrams dropped, both ways
  int workers = 8;                  // downloads at once
  double duration = 0;              // seconds; 0: until SIGINT or SIGTERM
  std::uint16_t feedback_port = 5001, command_port = 5002, http_port = 5003;
};

struct FleetSummary {
  int players = 0, downloading = 0, ready = 0, in_error = 0;
  std::uint64_t bytes = 0;
  int failures = 0, retries = 0;
  int not_modified = 0;  // media found current (304) instead of downloaded again
};

// N players on one machine: their feedback, their commands and their downloads.
class Fleet {
 public:
  explicit Fleet(FleetOptions options);
  ~Fleet();
  bool open(std::string& error);
  // Until stop() or the duration; calls `tick` about once a second.
  void run(const std::function<void(const FleetSummary&)>& tick);
  void stop() { stopping_ = true; }
  FleetSummary summary();
  std::string report_json();

 private:
  struct Job {
    std::size_t player;
    std::uint64_t generation;
    Download download;
    std::string server;
  };
  void handle_command(const std::string& bytes, const std::string& sender);
  void send_feedback(std::size_t index);
  void download(const Job& job);
  void work();
  bool lose();

  FleetOptions options_;
  std::mutex mutex_;  // the players and the jobs
  std::vector<SimPlayer> players_;
  std::vector<SimPlayer::Clock::time_point> due_;
  std::vector<int> retries_;
  std::unordered_map<std::string, std::size_t> by_id_;
  std::deque<Job> jobs_;
  std::condition_variable work_ready_;
  std::vector<std::thread> workers_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> bytes_{0};
  std::atomic<int> failures_{0}, retries_total_{0}, not_modified_{0};
  int command_fd_ = -1, feedback_fd_ = -1;
  std::mt19937 random_{12345};
};

}  // namespace tavri::sim
