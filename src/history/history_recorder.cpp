#include "history_recorder.h"

#include <algorithm>
#include <cstdlib>

namespace tavri::history {

HistoryRecorder::HistoryRecorder(HistoryStore& store) : store_(store) {
  for (const QString& id : store_.known_players()) players_[id];  // seen before: not first seen again
}

bool HistoryRecorder::is_online(const QString& device_id) const {
  auto it = players_.find(device_id);
  return it != players_.end() && it->online;
}

void HistoryRecorder::feedback(const Sighting& s, qint64 now) {
  const bool known = players_.contains(s.device_id);
  if (!known) {
    // Past the pace, a newcomer waits for a later feedback of its own.
    if (allowed_at_ms_ > 0)
      new_players_allowed_ = std::min(kNewPlayersBurst, new_players_allowed_ + double(now - allowed_at_ms_) *
                                                                                   kNewPlayersPerSecond / 1000.0);
    allowed_at_ms_ = now;
    if (new_players_allowed_ < 1) return;
    new_players_allowed_ -= 1;
  }
  Player& p = players_[s.device_id];
  if (!known) store_.record(Event{now, s.device_id, "first_seen", s.device_name});
  p.name = s.device_name;
  p.last_seen = now;
  if (!p.online) {
    p.online = true;
    store_.record(Event{now, s.device_id, "online", {}});
    if (known && on_online_change) on_online_change(s.device_id, s.device_name, true, now);
  }
  if (s.status_device == 4 && p.status_device != 4) store_.record(Event{now, s.device_id, "error", {}});
  p.status_device = s.status_device;
  if (s.playlist_id != p.playlist_id) {
    store_.record(Event{now, s.device_id, "list", s.playlist_id + " " + s.playlist_name});
    close_run(p, now);
    p.playlist_id = s.playlist_id;
    p.track.clear();
  }
  p.playlist_name = s.playlist_name;
  if (s.track != p.track) {
    p.track = s.track;
    track_changed(p, s.device_id, now);
  } else if (p.run) {
    p.run->end_ms = now;
    write_run(p, false);
  }
}

void HistoryRecorder::command(const QString& device_id, int code, const QString& action, qint64 now) {
  store_.record(Event{now, device_id, "command", QString("%1 %2").arg(code).arg(action)});
}

void HistoryRecorder::command_result(const QString& device_id, int code, const QString& action, bool confirmed,
                                     qint64 now) {
  store_.record(Event{now, device_id, confirmed ? "command_confirmed" : "command_failed",
                      QString("%1 %2").arg(code).arg(action)});
}

void HistoryRecorder::tick(qint64 now) {
  for (auto it = players_.begin(); it != players_.end(); ++it) {
    Player& p = *it;
    if (!p.online || now - p.last_seen <= kOnlineMs) continue;
    const qint64 since = p.last_seen + kOnlineMs;
    go_offline(p, it.key(), since, {});
    if (on_online_change) on_online_change(it.key(), p.name, false, since);
  }
}

void HistoryRecorder::close_all(qint64 now) {
  for (auto it = players_.begin(); it != players_.end(); ++it) {
    if (it->online) go_offline(*it, it.key(), now, "the server stopped");
  }
}

// Its run ends with its last feedback, whenever the silence is noticed.
void HistoryRecorder::go_offline(Player& p, const QString& id, qint64 at, const QString& why) {
  p.online = false;
  store_.record(Event{at, id, "offline", why});
  close_run(p, p.last_seen);
  p.track.clear();
}

void HistoryRecorder::track_changed(Player& p, const QString& id, qint64 now) {
  if (p.track.isEmpty() || p.track == "---") {
    close_run(p, now);
    return;
  }
  if (p.run) {
    Run& r = *p.run;
    if (r.period_ms == 0) {
      // Still learning the cycle: back at its first track closes it.
      if (p.track == r.tracks.first() && r.tracks.size() > 1) {
        r.period_ms = now - r.start_ms;
        p.cycles = 1;
        p.position = 0;
        p.cycle_start = now;
        r.end_ms = now;
        return write_run(p, true);
      }
      if (!r.tracks.contains(p.track)) {
        r.tracks << p.track;
        r.offsets << now - r.start_ms;
        r.end_ms = now;
        return write_run(p, true);
      }
    } else {
      const int next = (p.position + 1) % int(r.tracks.size());
      const qint64 due = next == 0 ? p.cycle_start + r.period_ms : p.cycle_start + r.offsets[next];
      if (p.track == r.tracks[next] && std::llabs(now - due) <= kCycleToleranceMs) {
        p.position = next;
        if (next == 0) {
          // The period is the mean of every cycle so far: one late feedback
          // neither breaks the run nor shifts the plays it stands for.
          p.cycle_start = now;
          r.period_ms = (now - r.start_ms) / ++p.cycles;
        }
        r.end_ms = now;
        return write_run(p, false);
      }
    }
    close_run(p, now);
  }
  Run r;
  r.id = store_.next_run_id();
  r.device_id = id;
  r.device_name = p.name;
  r.playlist_id = p.playlist_id;
  r.playlist_name = p.playlist_name;
  r.start_ms = r.end_ms = now;
  r.tracks << p.track;
  r.offsets << 0;
  p.run = r;
  p.position = 0;
  p.cycle_start = now;
  write_run(p, true);
}

void HistoryRecorder::close_run(Player& p, qint64 end) {
  if (!p.run) return;
  p.run->end_ms = std::max(p.run->end_ms, end);
  write_run(p, true);
  p.run.reset();
}

// A steady run is written about once a second, not at every feedback.
void HistoryRecorder::write_run(Player& p, bool force) {
  if (!force && p.run->end_ms - p.last_written_end < 1000) return;
  p.last_written_end = p.run->end_ms;
  store_.record(*p.run);
}

}  // namespace tavri::history
