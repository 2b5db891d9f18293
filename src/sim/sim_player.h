#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavri::sim {

// One media file a list names, as the player keeps it.
struct MediaFile {
  std::string name;         // the last path component of its "file_url"
  double seconds = 5;       // how long it plays
  std::uint64_t bytes = 0;  // downloaded
  std::uint64_t fnv64 = 0;  // of the downloaded bytes
  std::string etag;         // the server's validator for them
};

// What a player must fetch after a command: a published list file.
struct Download {
  std::string file;  // "PLAYLIST_ID_4.SAV" or "SCHEDULE_ID_2.SAV"
  std::string list_id;
  std::string list_name;
};

// One simulated player: the state its feedback reports and how each command
// changes it. No I/O; the fleet does the sockets and the downloads.
class SimPlayer {
 public:
  enum Device { kWaiting = 0, kDownloading = 1, kReady = 2, kNewList = 3, kError = 4 };
  using Clock = std::chrono::steady_clock;

  SimPlayer(std::string id, std::string name, std::string device_text);

  // The feedback datagram's text: ten fields.
  std::string feedback() const;
  // A command datagram addressed to this player (or to "0"); a download
  // to start, when the command asks for one.
  std::optional<Download> obey(int code, const std::vector<std::string>& arguments);
  // The download has begun, has finished with these files, or failed.
  void download_started(std::uint64_t generation);
  void download_done(std::uint64_t generation, std::vector<MediaFile> files);
  void download_failed(std::uint64_t generation, const std::string& why);
  // The current track moves on by the items' lengths.
  void advance(Clock::time_point now);

  const std::string& id() const { return id_; }
  const std::string& name() const { return name_; }
  int device() const { return device_; }
  int player() const { return player_; }
  const std::string& list_id() const { return list_id_; }
  const std::string& list_name() const { return list_name_; }
  const std::vector<MediaFile>& files() const { return files_; }
  const std::vector<int>& commands() const { return commands_; }
  const std::string& last_error() const { return error_; }
  std::uint64_t generation() const { return generation_; }
  std::string track() const;

 private:
  std::string id_, name_, device_text_;
  int device_ = kWaiting, player_ = 0, menu_ = 0, muted_ = 0;
  std::string list_id_ = "---", list_name_, stream_, background_ = "---", error_;
  std::vector<MediaFile> files_;
  std::size_t current_ = 0;
  Clock::time_point track_started_{};
  std::uint64_t generation_ = 0;  // a newer load makes older downloads moot
  std::optional<Download> last_load_;
  std::vector<int> commands_;
};

}  // namespace tavri::sim
