#include "udp_feedback.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/main_queue.h"
#include "core/movielist.h"
#include "core/notifications.h"
#include "player_status.h"

namespace tavri {

namespace {
// "lobby, bar and 3 more"
QString player_names(const RecordArray& players) {
  QStringList names;
  for (int i = 0; i < players.size() && i < 3; ++i) names << players[i].value("device_name").toString();
  QString text = names.join(", ");
  if (players.size() > 3) text += QString(" and %1 more").arg(players.size() - 3);
  return text;
}
}  // namespace

bool UDP_Feedback::confirm(const QString& action, const QString& button) {
  const RecordArray selected = devices_.selected_records();
  if (selected.isEmpty()) return false;
  const QString whom = selected.size() == 1 ? QString("the player \"%1\"").arg(selected[0].value("device_name").toString())
                                            : QString("%1 players").arg(selected.size());
  return dialogs_.alert(QString("%1 %2?").arg(action, whom), player_names(selected), {"Cancel", button}) == 1;
}

// ---------------------------------------------------------------- commands

void UDP_Feedback::send_bytes(const std::string& bytes) {
  if (!socket_) return;
  outbox_.push_back(bytes);
  drain_outbox();
}

// A token bucket: `command_burst` datagrams at once, then `command_rate` a
// second; what waits leaves on a timer, in order.
void UDP_Feedback::drain_outbox() {
  if (!socket_) return outbox_.clear();
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (tokens_at_ms_ == 0) send_tokens_ = config_.command_burst;
  send_tokens_ = std::min<double>(config_.command_burst,
                                  send_tokens_ + double(now - tokens_at_ms_) * config_.command_rate / 1000.0);
  tokens_at_ms_ = now;
  while (!outbox_.empty() && send_tokens_ >= 1) {
    const std::string& bytes = outbox_.front();
    socket_->send_data(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), config_.command_host,
                       config_.command_port, -1, 1);
    outbox_.pop_front();
    send_tokens_ -= 1;
  }
  if (!outbox_.empty() && !pace_timer_.isActive()) pace_timer_.start(10);
}

// One line per command however many players it goes to: the sends of one
// turn of the event loop count together. A command whose effect the
// players' feedback shows is then told as it is confirmed.
void UDP_Feedback::note_command(int code, int players) {
  if (starts_burst(code)) {
    burst_code_ = code;
    burst_count_ = 0;
  }
  burst_count_ += players;
  if (!burst_open_) {
    burst_open_ = true;
    QTimer::singleShot(0, this, [this] { burst_open_ = false; });
  }
  if (!socket_) {
    last_command_ = QString("%1 not sent: the player socket is closed").arg(players::command_name(code));
    emit last_command_changed(last_command_);
  } else if (commands_.tally().code == code && code != wire::kRefreshLists) {
    show_tally();
  } else {
    // Sent without the tracker (the lists' refresh): no feedback shows it.
    last_command_ = QString("%1: sent to %2 %3, not confirmable")
                        .arg(players::command_name(code))
                        .arg(burst_count_)
                        .arg(burst_count_ == 1 ? "player" : "players");
    emit command_tally(last_command_);
    emit last_command_changed(last_command_);
  }
}

void UDP_Feedback::send(const QString& device_id, int code, const QStringList& arguments) {
  const bool new_action = starts_burst(code);
  std::vector<std::string> utf8;
  for (const auto& a : arguments) utf8.push_back(a.toStdString());
  std::string bytes = wire::encode_command(device_id.toStdString(), code, utf8);
  // What the player was at the send: its track (next and back are seen as
  // its change) and whether it is heard at all.
  CommandTracker::Player player;
  if (const QList<int> at = records_with_id(device_id); at.size() == 1) {
    const Record& r = devices_.at(at.first());
    player.track = r.value("id_track").toString();
    player.online = players::is_online(r, QDateTime::currentDateTime());
    if (CommandTracker::by_track_change(code) && track_count_)
      player.tracks = track_count_(device_id, r.value("id_playlist"));
  }
  const auto failed = commands_.sent(device_id, code, arguments, bytes, QDateTime::currentMSecsSinceEpoch(),
                                     new_action, player);
  // A player the operator commands is theirs: a full registry keeps it.
  operator_players_.insert(device_id);
  note_command(code);
  emit command_sent_to(device_id, code);
  send_bytes(bytes);
  if (failed) {
    console_log(QString("COMMAND FAILED: %1 to %2: offline").arg(players::command_name(code), device_id));
    emit command_failed(device_id, code);
  }
}

// Resends what the players' feedback has not shown yet, and gives up on
// what it never showed.
void UDP_Feedback::follow_commands(qint64 now_ms) {
  const auto due = commands_.tick(now_ms);
  for (const std::string& bytes : due.resend) send_bytes(bytes);
  for (const auto& failed : due.failed) {
    console_log(QString("COMMAND FAILED: %1 to %2 after %3 sends")
                    .arg(players::command_name(failed.code), failed.device_id)
                    .arg(failed.sends));
    emit command_failed(failed.device_id, failed.code);
  }
  if (!due.failed.empty()) show_tally();
}

// Each action whose tally changed is told on its own; the status line
// holds the latest and every recent one with failures, so that a failure
// stays in view until eight newer actions came.
void UDP_Feedback::show_tally() {
  if (!socket_) return;
  for (const auto& tally : commands_.take_changed()) emit command_tally(CommandTracker::tally_text(tally));
  const auto& recent = commands_.recent_tallies();
  if (recent.empty()) return;
  QStringList parts{CommandTracker::tally_text(recent.front())};
  for (std::size_t i = 1; i < recent.size(); ++i)
    if (recent[i].failed > 0) parts << CommandTracker::tally_text(recent[i]);
  const QString text = parts.join(" · ");
  if (text == last_command_) return;
  last_command_ = text;
  emit last_command_changed(last_command_);
}

void UDP_Feedback::simple_command(int code, bool confirmed) {
  if (!players_selected(players::command_name(code))) return;
  if (!confirmed && !many_confirmed(players::command_name(code))) return;
  tell(command_players(code, selected_ids()));
}

// More players than a screen shows: a stray Ctrl+A must not command a fleet.
bool UDP_Feedback::many_confirmed(const QString& action) {
  const RecordArray selected = devices_.selected_records();
  if (selected.size() <= kScreenful) return true;
  if (dialogs_.alert(QString("%1 to %2 players?").arg(action).arg(selected.size()), player_names(selected),
                     {"Cancel", "Send"}) == 1)
    return true;
  emit notice(QString("%1 not sent").arg(action));
  return false;
}

bool UDP_Feedback::players_selected(const QString& action) {
  if (devices_.has_selection()) return true;
  emit notice(QString("%1 not sent: select one or more players first").arg(action));
  return false;
}

void UDP_Feedback::tell(const Outcome& outcome) {
  if (!outcome.ok() && !outcome.message.isEmpty()) dialogs_.alert(outcome.message, outcome.detail, {"OK"});
}

void UDP_Feedback::changeName() {
  if (devices_.selection_count() != 1) {
    emit notice(devices_.has_selection()
                    ? QString("Rename one player at a time: %1 are selected").arg(devices_.selection_count())
                    : QString("Select the player to rename first"));
    return;
  }
  const Record player = devices_.selected_records().first();
  console_log("EDIT");
  const auto name = dialogs_.prompt("Please enter the new name:", player.value("device_name").toString(), 200);
  if (name) tell(rename_player(player.value("device_id").toString(), *name));
}

void UDP_Feedback::sendM3U8() {
  if (!players_selected("Web stream") || !many_confirmed("WEB STREAM")) return;
  console_log("M3u8");
  const auto address = dialogs_.prompt("Please enter the web address:", "", 400);
  if (address) tell(command_players(wire::kWebStream, selected_ids(), {*address}));
}

void UDP_Feedback::send_playlist(const QVariant& object) {
  if (devices_.has_selection()) {
    if (many_confirmed(QString("\"%1\"").arg(object.toMap().value("name").toString())))
      tell(send_list(object.toMap(), selected_ids()));
    return;
  }
  const QString name = object.toMap().value("name").toString();
  if (devices_.empty()) return void(emit notice(QString("\"%1\" not sent: there are no players yet").arg(name)));
  // Nothing selected: the operator may mean every player, but is asked.
  const int all = devices_.size();
  if (dialogs_.alert("No player is selected.", QString("Send \"%1\" to all %2 players?").arg(name).arg(all),
                     {"Cancel", "Send to all"}, 0) == 1)
    tell(send_list(object.toMap(), player_ids()));
  else
    emit notice(QString("\"%1\" not sent: no player selected").arg(name));
}

void UDP_Feedback::refresh_lists() { refresh_lists(selected_ids()); }

void UDP_Feedback::set_as_new_background_pic() {
  if (!content_list_ || content_list_->selection_count() != 1)
    return tell(Outcome::bad("file", "Please select one file in the content list"));
  const QUrl url = content_list_->selected_records().first().value("file_url").toUrl();
  tell(set_background(url.isLocalFile() ? url.toLocalFile() : url.path(), selected_ids()));
}

void UDP_Feedback::discover_devices() {
  last_datagram_.reset();
  devices_.refresh();
  reload_map();
}

void UDP_Feedback::send_simple_feedback() { send_bytes(wire::simple_feedback_request()); }

}  // namespace tavri
