#include "sim_player.h"

#include <ctime>
#include <iterator>

#include "players/net/wire_protocol.h"

namespace tavri::sim {

SimPlayer::SimPlayer(std::string id, std::string name, std::string device_text)
    : id_(std::move(id)), name_(std::move(name)), device_text_(std::move(device_text)) {}

std::string SimPlayer::track() const {
  if (!stream_.empty()) return stream_;
  if (files_.empty()) return "---";
  return files_[current_ % files_.size()].name;
}

std::string SimPlayer::feedback() const {
  char clock[32];
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  const std::string fields[] = {id_,          name_,
                                std::to_string(device_), std::to_string(player_),
                                list_id_,     track(),
                                std::to_string(menu_),   std::to_string(muted_),
                                std::string(clock) + " " + device_text_, background_};
  std::string out = fields[0];
  for (std::size_t i = 1; i < std::size(fields); ++i) {
    out += wire::kSeparator;
    out += fields[i];
  }
  return out;
}

std::optional<Download> SimPlayer::obey(int code, const std::vector<std::string>& args) {
  commands_.push_back(code);
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
  switch (code) {
    case wire::kPlay: player_ = 1; break;
    case wire::kPause: player_ = 0; break;
    case wire::kRename: name_ = arg(0); break;
    case wire::kMenuOff: menu_ = 0; break;
    case wire::kMenuOn: menu_ = 1; break;
    case wire::kMuteOn: muted_ = 1; break;
    case wire::kMuteOff: muted_ = 0; break;
    case wire::kNext:
      if (!files_.empty()) current_ = (current_ + 1) % files_.size();
      track_started_ = Clock::now();
      break;
    case wire::kBack:
      if (!files_.empty()) current_ = (current_ + files_.size() - 1) % files_.size();
      track_started_ = Clock::now();
      break;
    case wire::kWebStream:
      stream_ = arg(0);
      player_ = 1;
      break;
    case wire::kBackground: background_ = arg(0); break;
    case wire::kClearList:
    case wire::kClearContent:
      ++generation_;
      files_.clear();
      stream_.clear();
      list_id_ = "---";
      list_name_.clear();
      device_ = kWaiting;
      last_load_.reset();
      break;
    case wire::kReset:
      ++generation_;
      player_ = 0;
      menu_ = 0;
      muted_ = 0;
      stream_.clear();
      current_ = 0;
      device_ = files_.empty() ? kWaiting : kReady;
      break;
    case wire::kLoadPlaylist:
    case wire::kLoadSchedule: {
      const std::string prefix = code == wire::kLoadPlaylist ? "PLAYLIST_ID_" : "SCHEDULE_ID_";
      last_load_ = Download{prefix + arg(0) + ".SAV", arg(0), arg(1)};
      ++generation_;
      device_ = kNewList;
      return last_load_;
    }
    case wire::kRefreshLists:
      if (!last_load_) break;
      ++generation_;
      device_ = kNewList;
      return last_load_;
    default: break;  // the simple feedback request changes nothing
  }
  return std::nullopt;
}

void SimPlayer::download_started(std::uint64_t generation) {
  if (generation == generation_) device_ = kDownloading;
}

void SimPlayer::download_done(std::uint64_t generation, std::vector<MediaFile> files) {
  if (generation != generation_ || !last_load_) return;
  files_ = std::move(files);
  list_id_ = last_load_->list_id;
  list_name_ = last_load_->list_name;
  stream_.clear();
  current_ = 0;
  track_started_ = Clock::now();
  device_ = kReady;
  player_ = 1;
  error_.clear();
}

void SimPlayer::download_failed(std::uint64_t generation, const std::string& why) {
  if (generation != generation_) return;
  device_ = kError;
  error_ = why;
}

void SimPlayer::advance(Clock::time_point now) {
  if (files_.empty() || player_ != 1 || !stream_.empty()) return;
  const auto length = std::chrono::duration<double>(std::max(1.0, files_[current_ % files_.size()].seconds));
  if (now - track_started_ >= length) {
    current_ = (current_ + 1) % files_.size();
    track_started_ = now;
  }
}

}  // namespace tavri::sim
