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
    default: return std::nullopt;
  }
}

bool CommandTracker::confirmable(int code) { return slot_of(code).has_value(); }

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
    default: return false;
  }
}

qint64 CommandTracker::wait_after(int sends) const {
  return static_cast<qint64>(static_cast<double>(options_.first_wait_ms) * std::pow(options_.backoff, sends - 1));
}

void CommandTracker::sent(const QString& device_id, int code, const QStringList& arguments, std::string bytes,
                          qint64 now_ms, bool new_action) {
  if (new_action) {
    tally_ = Tally{code, 0, 0, 0};
    ++action_;
  }
  ++tally_.total;
  const auto slot = slot_of(code);
  if (!slot) return;
  auto& list = entries_[device_id];
  std::erase_if(list, [&](const Entry& e) { return e.slot == *slot; });
  list.push_back({*slot, Command{device_id, code, arguments, std::move(bytes), 1, now_ms, ++order_}, false, action_});
}

std::vector<CommandTracker::Command> CommandTracker::feedback(const Record& player) {
  std::vector<Command> confirmed;
  auto it = entries_.find(player.value("device_id").toString());
  if (it == entries_.end()) return confirmed;
  std::erase_if(*it, [&](Entry& e) {
    if (e.failed || !shows(e.command, player)) return false;
    if (e.action == action_) ++tally_.confirmed;
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
      if (!e.failed && now_ms - e.command.last_sent_ms >= wait_after(e.command.sends)) ready.push_back(&e);
  std::sort(ready.begin(), ready.end(), [](const Entry* a, const Entry* b) { return a->command.order < b->command.order; });
  Due due;
  for (Entry* e : ready) {
    if (e->command.sends >= options_.most_sends) {
      e->failed = true;
      if (e->action == action_) ++tally_.failed;
      due.failed.push_back(e->command);
      continue;
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
    if (e.failed) parts << name + " failed";
    else if (e.command.sends == 1) parts << name + " pending";
    else parts << QString("%1 pending, send %2").arg(name).arg(e.command.sends);
  }
  return parts.join("; ");
}

int CommandTracker::pending() const {
  int n = 0;
  for (const auto& list : entries_)
    n += static_cast<int>(std::count_if(list.begin(), list.end(), [](const Entry& e) { return !e.failed; }));
  return n;
}

QString CommandTracker::tally_text() const {
  QString text = QString("%1: %2 of %3 confirmed")
                     .arg(players::command_name(tally_.code))
                     .arg(tally_.confirmed)
                     .arg(tally_.total);
  if (tally_.failed > 0) text += QString(", %1 failed").arg(tally_.failed);
  return text;
}

}  // namespace tavri
