#include "fleet.h"

#include <algorithm>

#include <QByteArray>
#include <QUrl>
#include <QVariant>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/keyed_archive.h"
#include "http_fetch.h"
#include "players/net/wire_protocol.h"

namespace tavri::sim {
namespace {

std::string json_text(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The media a published list names, in order, each once.
std::vector<MediaFile> media_of(const QVariant& root) {
  std::vector<MediaFile> files;
  auto add_items = [&](const QVariantList& items) {
    for (const QVariant& v : items) {
      const QVariantMap item = v.toMap();
      const QVariant url = item.value("file_url");
      const QString name = (url.canConvert<QUrl>() ? url.toUrl() : QUrl(url.toString())).fileName();
      if (name.isEmpty()) continue;
      MediaFile f;
      f.name = name.toStdString();
      f.seconds = std::max(1.0, item.value("file_length").toDouble());
      bool seen = false;
      for (const MediaFile& other : files) seen = seen || other.name == f.name;
      if (!seen) files.push_back(f);
    }
  };
  for (const QVariant& entry : root.toMap().value("movielist").toList()) {
    const QVariantMap map = entry.toMap();
    if (map.contains("playlist_files"))
      add_items(map.value("playlist_files").toList());  // a schedule's task
    else if (map.contains("file_url"))
      add_items({entry});  // a playlist's item
  }
  return files;
}

}  // namespace

Fleet::Fleet(FleetOptions options) : options_(std::move(options)) {
  const auto now = SimPlayer::Clock::now();
  std::uniform_real_distribution<double> spread(0, options_.interval);
  for (int i = 0; i < options_.players; ++i) {
    char id[64];
    std::snprintf(id, sizeof id, "%s-%04d", options_.prefix.c_str(), i);
    players_.emplace_back(id, std::string("Simulated ") + id, "tavri_player_sim");
    by_id_[id] = std::size_t(i);
    // Spread over one interval, so that a thousand players do not send at once.
    due_.push_back(now + std::chrono::duration_cast<SimPlayer::Clock::duration>(
                             std::chrono::duration<double>(spread(random_))));
    retries_.push_back(0);
  }
}

Fleet::~Fleet() {
  stopping_ = true;
  work_ready_.notify_all();
  for (auto& t : workers_) t.join();
  if (command_fd_ >= 0) ::close(command_fd_);
  if (feedback_fd_ >= 0) ::close(feedback_fd_);
}

bool Fleet::open(std::string& error) {
  command_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  feedback_fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (command_fd_ < 0 || feedback_fd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(command_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ::setsockopt(command_fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  if (!options_.interface.empty() &&
      ::setsockopt(command_fd_, SOL_SOCKET, SO_BINDTODEVICE, options_.interface.c_str(),
                   socklen_t(options_.interface.size())) != 0) {
    error = "cannot listen on interface " + options_.interface + ": " + std::strerror(errno);
    return false;
  }
  // Commands are broadcast: only the wildcard address receives them.
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(options_.command_port);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(command_fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    error = "cannot listen for commands on port " + std::to_string(options_.command_port) + ": " + std::strerror(errno);
    return false;
  }
  sockaddr_in source{};
  source.sin_family = AF_INET;
  if (::inet_pton(AF_INET, options_.bind.c_str(), &source.sin_addr) != 1) {
    error = "not an IPv4 address: " + options_.bind;
    return false;
  }
  if (::bind(feedback_fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
    error = "cannot send from " + options_.bind + ": " + std::strerror(errno);
    return false;
  }
  if (options_.broadcast) ::setsockopt(feedback_fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  for (int i = 0; i < std::max(1, options_.workers); ++i) workers_.emplace_back([this] { work(); });
  return true;
}

bool Fleet::lose() {
  if (options_.loss <= 0) return false;
  return std::uniform_real_distribution<double>(0, 1)(random_) < options_.loss;
}

void Fleet::send_feedback(std::size_t index) {
  const std::string text = players_[index].feedback();
  if (lose()) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(options_.feedback_port);
  ::inet_pton(AF_INET, options_.broadcast ? "255.255.255.255" : options_.target.c_str(), &to.sin_addr);
  ::sendto(feedback_fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void Fleet::handle_command(const std::string& bytes, const std::string& sender) {
  if (lose()) return;
  const std::vector<std::string_view> fields = wire::split_fields(bytes);
  if (fields.size() < 2) return;
  const int code = wire::parse_int_field(fields[1]);
  const std::vector<std::string> args(fields.begin() + 2, fields.end());
  std::lock_guard lock(mutex_);
  const auto now = SimPlayer::Clock::now();
  if (fields[0] == "0" && code == wire::kSimpleFeedback) {
    for (auto& due : due_) due = now;
    return;
  }
  const auto it = by_id_.find(std::string(fields[0]));
  if (it == by_id_.end()) return;
  const std::size_t i = it->second;
  if (auto download = players_[i].obey(code, args)) {
    jobs_.push_back({i, players_[i].generation(), *download, options_.server.empty() ? sender : options_.server});
    work_ready_.notify_one();
  }
  due_[i] = now;  // the effect shows in the next feedback, at once
}

void Fleet::work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = jobs_.front();
      jobs_.pop_front();
      players_[job.player].download_started(job.generation);
      due_[job.player] = SimPlayer::Clock::now();
    }
    download(job);
  }
}

void Fleet::download(const Job& job) {
  auto fail = [&](const std::string& why) {
    failures_++;
    std::lock_guard lock(mutex_);
    players_[job.player].download_failed(job.generation, why);
    due_[job.player] = SimPlayer::Clock::now();
  };
  QByteArray archive;
  FetchResult list = http_get(job.server, options_.http_port, escape_path(job.download.file),
                              [&](const char* d, std::size_t n) { archive.append(d, qsizetype(n)); });
  retries_total_ += list.retries;
  if (!list.ok) return fail(job.download.file + ": " + list.error);
  QString error;
  const auto root = decode_root_archive(archive, &error);
  if (!root) return fail(job.download.file + ": cannot decode: " + error.toStdString());
  std::vector<MediaFile> files = media_of(*root);
  // What the player holds already is asked for only if it changed.
  std::vector<MediaFile> held;
  {
    std::lock_guard lock(mutex_);
    held = players_[job.player].files();
  }
  int retries = list.retries;
  for (MediaFile& f : files) {
    const auto kept = std::find_if(held.begin(), held.end(), [&](const MediaFile& h) { return h.name == f.name; });
    const std::string held_etag = kept != held.end() ? kept->etag : std::string();
    Fnv64 hash;
    const FetchResult got = http_get(
        job.server, options_.http_port, escape_path(f.name),
        [&](const char* d, std::size_t n) {
          hash.add(d, n);
          bytes_ += n;
        },
        5, 30, held_etag);
    retries += got.retries;
    retries_total_ += got.retries;
    if (!got.ok) return fail(f.name + ": " + got.error);
    if (got.not_modified) {
      ++not_modified_;
      f.bytes = kept->bytes;
      f.fnv64 = kept->fnv64;
      f.etag = kept->etag;
      continue;
    }
    f.bytes = got.bytes;
    f.fnv64 = hash.value;
    f.etag = got.etag;
  }
  std::lock_guard lock(mutex_);
  retries_[job.player] += retries;
  players_[job.player].download_done(job.generation, std::move(files));
  due_[job.player] = SimPlayer::Clock::now();
}

void Fleet::run(const std::function<void(const FleetSummary&)>& tick) {
  const auto start = SimPlayer::Clock::now();
  auto next_tick = start;
  const auto interval = std::chrono::duration_cast<SimPlayer::Clock::duration>(
      std::chrono::duration<double>(std::max(0.05, options_.interval)));
  std::uniform_int_distribution<int> jitter_ms(-150, 150);
  while (!stopping_) {
    pollfd p{command_fd_, POLLIN, 0};
    // Every command waiting, not one a turn: each player has a socket of
    // its own, and a fleet sharing one must not drop what they would take.
    for (int ready = ::poll(&p, 1, 20); ready > 0; ready = ::poll(&p, 1, 0)) {
      char buf[wire::kMaxDatagram];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(command_fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) break;
      char host[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &from.sin_addr, host, sizeof host);
      if (n > 0) handle_command(std::string(buf, std::size_t(n)), host);
    }
    const auto now = SimPlayer::Clock::now();
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < players_.size(); ++i) {
        players_[i].advance(now);
        if (due_[i] > now) continue;
        send_feedback(i);
        due_[i] = now + interval + std::chrono::milliseconds(jitter_ms(random_));
      }
    }
    if (now >= next_tick) {
      next_tick = now + std::chrono::seconds(1);
      if (tick) tick(summary());
    }
    if (options_.duration > 0 && now - start >= std::chrono::duration<double>(options_.duration)) break;
  }
}

FleetSummary Fleet::summary() {
  FleetSummary s;
  std::lock_guard lock(mutex_);
  s.players = int(players_.size());
  for (const SimPlayer& p : players_) {
    if (p.device() == SimPlayer::kDownloading || p.device() == SimPlayer::kNewList) ++s.downloading;
    if (p.device() == SimPlayer::kReady) ++s.ready;
    if (p.device() == SimPlayer::kError) ++s.in_error;
  }
  s.bytes = bytes_;
  s.failures = failures_;
  s.retries = retries_total_;
  s.not_modified = not_modified_;
  return s;
}

std::string Fleet::report_json() {
  const FleetSummary s = summary();
  std::lock_guard lock(mutex_);
  std::string out = "{\n  \"players\": [\n";
  for (std::size_t i = 0; i < players_.size(); ++i) {
    const SimPlayer& p = players_[i];
    out += "    {\"device_id\": " + json_text(p.id()) + ", \"device_name\": " + json_text(p.name()) +
           ", \"status_device\": " + std::to_string(p.device()) + ", \"status_player\": " +
           std::to_string(p.player()) + ", \"id_playlist\": " + json_text(p.list_id()) + ", \"list_name\": " + json_text(p.list_name()) +
           ", \"track\": " + json_text(p.track()) + ", \"error\": " + json_text(p.last_error()) +
           ", \"retries\": " + std::to_string(retries_[i]) + ", \"commands\": [";
    for (std::size_t c = 0; c < p.commands().size(); ++c) out += (c ? ", " : "") + std::to_string(p.commands()[c]);
    out += "], \"files\": [";
    for (std::size_t f = 0; f < p.files().size(); ++f) {
      char hash[24];
      std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(p.files()[f].fnv64));
      out += std::string(f ? ", " : "") + "{\"name\": " + json_text(p.files()[f].name) +
             ", \"bytes\": " + std::to_string(p.files()[f].bytes) + ", \"fnv64\": \"" + hash + "\"}";
    }
    out += std::string("]}") + (i + 1 < players_.size() ? ",\n" : "\n");
  }
  out += "  ],\n  \"bytes\": " + std::to_string(s.bytes) + ", \"failures\": " + std::to_string(s.failures) +
         ", \"retries\": " + std::to_string(s.retries) + ", \"not_modified\": " + std::to_string(s.not_modified) +
         ", \"ready\": " + std::to_string(s.ready) +
         ", \"in_error\": " + std::to_string(s.in_error) + "\n}\n";
  return out;
}

}  // namespace tavri::sim
