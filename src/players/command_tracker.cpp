#include "command_tracker.h"

#include <algorithm>
#include <cmath>

#include "player_status.h"
#include "players/net/wire_protocol.h"

namespace tavri {

std::optional<CommandTracker::Slot> CommandTracker::slot_of(int code) {
  switch (code) {
    case wire::kLoadPlaylist:
    case wire::kLoadSchedule: return Slot::list;
    case wire::kRename: return Slot::name;
    case wire::kPlay:
    case wire::kPause: return Slot::playback;
    case wire::kMenuOn:
    case wire::kMenuOff: return Slot::menu;
    case wire::kMuteOn:
    case wire::kMuteOff: return Slot::sound;
    case wire::kNext:
    case wire::kBack:
    case wire::kWebStream: return Slot::track;
    case wire::kBackground: return Slot::background;
    default: return std::nullopt;
  }
}

bool CommandTracker::confirmable(int code) { return slot_of(code).has_value(); }

bool CommandTracker::by_track_change(int code) { return code == wire::kNext || code == wire::kBack; }

bool CommandTracker::shows(const Command& c, const Record& p) {
  const QString first = c.arguments.value(0);
  switch (c.code) {
    case wire::kLoadPlaylist:
    case wire::kLoadSchedule: {
      // Its list, and not in error with it.
      const int state = p.value("status_device").toInt();
      return p.value("id_playlist").toString() == first && state >= 0 && state <= 3;
    }
    case wire::kRename: return p.value("device_name").toString() == first;
    case wire::kPlay: return p.value("status_player").toInt() == 1;
    case wire::kPause: return p.value("status_player").toInt() == 0;
    case wire::kMenuOn: return p.value("status_menue").toInt() == 1;
    case wire::kMenuOff: return p.value("status_menue").toInt() != 1;
    case wire::kMuteOn: return p.value("status_sound").toInt() == 1;
    case wire::kMuteOff: return p.value("status_sound").toInt() != 1;
    case wire::kWebStream: return p.value("id_track").toString() == first;
    case wire::kNext:
    case wire::kBack: {
      const QString track = p.value("id_track").toString();
      return !track.isEmpty() && track != c.baseline;
    }
    case wire::kBackground: return p.value("device_background").toString() == first;
    default: return false;
  }
}

qint64 CommandTracker::wait_after(int sends) const {
  if (sends > options_.most_sends) return options_.late_wait_ms;
  return static_cast<qint64>(static_cast<double>(options_.first_wait_ms) * std::pow(options_.backoff, sends - 1));
}

CommandTracker::Tally* CommandTracker::tally_of(quint64 action) {
  for (Tally& t : tallies_)
    if (t.action == action) return &t;
  return nullptr;  // too old to be shown
}

void CommandTracker::changed(quint64 action) {
  if (std::find(changed_.begin(), changed_.end(), action) == changed_.end()) changed_.push_back(action);
}

std::vector<CommandTracker::Tally> CommandTracker::take_changed() {
  std::vector<Tally> out;
  for (const Tally& t : tallies_)
    if (std::find(changed_.begin(), changed_.end(), t.action) != changed_.end()) out.push_back(t);
  changed_.clear();
  return out;
}

std::optional<CommandTracker::Command> CommandTracker::sent(const QString& device_id, int code,
                                                            const QStringList& arguments, std::string bytes,
                                                            qint64 now_ms, bool new_action, const Player& player) {
  if (new_action || tallies_.empty()) {
    tallies_.insert(tallies_.begin(), Tally{code, 0, 0, 0, 0, ++action_});
    if (tallies_.size() > kRecentActions) tallies_.pop_back();
  }
  Tally& tally = tallies_.front();
  ++tally.total;
  changed(tally.action);
  const auto slot = slot_of(code);
  if (!slot) return std::nullopt;
  if (by_track_change(code) && player.tracks >= 0 && player.tracks <= 1) {
    ++tally.unconfirmable;  // the track stays what it was
    return std::nullopt;
  }
  auto& list = entries_[device_id];
  std::erase_if(list, [&](const Entry& e) { return e.slot == *slot; });
  Command command{device_id, code, arguments, std::move(bytes), 1, now_ms, now_ms, ++order_, player.track, {}};
  // Dark at the send: said failed at once, not after a minute of resends,
  // and still followed, so that a player only unheard for a while (a lossy
  // network) gets it yet, and is counted confirmed then.
  if (!player.online) {
    command.failure = "offline";
    ++tally.failed;
    list.push_back({*slot, command, false, false, true, action_});
    return command;
  }
  list.push_back({*slot, std::move(command), false, false, false, action_});
  return std::nullopt;
}

std::vector<CommandTracker::Command> CommandTracker::feedback(const Record& player, qint64 now_ms) {
  std::vector<Command> confirmed;
  auto it = entries_.find(player.value("device_id").toString());
  if (it == entries_.end()) return confirmed;
  const int state = player.value("status_device").toInt();
  std::erase_if(*it, [&](Entry& e) {
    // Tracks change by themselves: once given up, a later change is not the
    // NEXT or BACK that was lost.
    if ((e.failed && by_track_change(e.command.code)) || !shows(e.command, player)) {
      // Downloading or taking a new list: working on the load, which a
      // resend would start over. Waited for while it says so.
      e.working = e.slot == Slot::list && !e.failed && (state == 1 || state == 3) &&
                  now_ms - e.command.first_sent_ms < options_.working_limit_ms;
      if (e.working) {
        e.working_until_ms = now_ms + options_.working_grace_ms;
        e.command.last_sent_ms = std::max(e.command.last_sent_ms, now_ms);
      }
      return false;
    }
    // A failed command whose effect shows after all was not lost.
    if (Tally* t = tally_of(e.action)) {
      ++t->confirmed;
      if (e.failed || e.counted_failed) --t->failed;
      changed(e.action);
    }
    confirmed.push_back(std::move(e.command));
    return true;
  });
  if (it->empty()) entries_.erase(it);
  return confirmed;
}

CommandTracker::Due CommandTracker::tick(qint64 now_ms) {
  std::vector<Entry*> ready;
  for (auto& list : entries_)
    for (Entry& e : list)
      if (!e.failed && e.working_until_ms <= now_ms && now_ms - e.command.last_sent_ms >= wait_after(e.command.sends))
        ready.push_back(&e);
  std::sort(ready.begin(), ready.end(), [](const Entry* a, const Entry* b) { return a->command.order < b->command.order; });
  Due due;
  for (Entry* e : ready) {
    if (e->command.sends >= options_.most_sends) {
      // Counted, and told, once: here, or at the send to a player offline.
      const bool first_told = !e->counted_failed;
      if (first_told) {
        if (Tally* t = tally_of(e->action)) {
          ++t->failed;
          changed(e->action);
        }
        due.failed.push_back(e->command);
        e->counted_failed = true;
      }
      const bool late = e->slot == Slot::list && now_ms - e->command.first_sent_ms < options_.working_limit_ms;
      if (!late) {
        e->failed = true;
        continue;
      }
      if (first_told) {
        // Offered again a late wait from now.
        e->command.sends = options_.most_sends + 1;
        e->command.last_sent_ms = now_ms;
        continue;
      }
    }
    ++e->command.sends;
    e->command.last_sent_ms = now_ms;
    due.resend.push_back(e->command.bytes);
  }
  return due;
}

void CommandTracker::forget(const QString& device_id) { entries_.remove(device_id); }

QString CommandTracker::state_of(const QString& device_id) const {
  auto it = entries_.constFind(device_id);
  if (it == entries_.constEnd() || it->empty()) return {};
  QStringList parts;
  for (const Entry& e : *it) {
    const QString name = players::command_name(e.command.code);
    const QString failed = name + " failed" + (e.command.failure.isEmpty() ? QString() : ": " + e.command.failure);
    if (e.failed) parts << failed;
    else if (e.working) parts << name + " downloading";
    else if (e.counted_failed) parts << failed + ", still sent";
    else if (e.command.sends == 1) parts << name + " pending";
    else parts << QString("%1 pending, send %2").arg(name).arg(e.command.sends);
  }
  return parts.join("; ");
}

QString CommandTracker::tally_text(const Tally& tally) {
  if (!confirmable(tally.code))
    return QString("%1: sent to %2 %3, not confirmable")
        .arg(players::command_name(tally.code))
        .arg(tally.total)
        .arg(tally.total == 1 ? "player" : "players");
  QString text = QString("%1: %2 of %3 confirmed")
                     .arg(players::command_name(tally.code))
                     .arg(tally.confirmed)
                     .arg(tally.total);
  if (tally.failed > 0) text += QString(", %1 failed").arg(tally.failed);
  if (tally.unconfirmable > 0) text += QString(", %1 not confirmable (one track)").arg(tally.unconfirmable);
  return text;
}

}  // namespace tavri
