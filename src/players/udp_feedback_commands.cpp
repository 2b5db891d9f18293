#include "udp_feedback.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>
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
  socket_->send_data(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), config_.command_host,
                     config_.command_port, -1, 1);
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
  if (!socket_)
    last_command_ = QString("%1 not sent: the player socket is closed").arg(players::command_name(code));
  else if (CommandTracker::confirmable(code) && commands_.tally().code == code)
    last_command_ = commands_.tally_text();
  else
    last_command_ = QString("%1 sent to %2 %3").arg(players::command_name(code)).arg(burst_count_)
                        .arg(burst_count_ == 1 ? "player" : "players");
  emit last_command_changed(last_command_);
}

void UDP_Feedback::send(const QString& device_id, int code, std::initializer_list<QString> arguments) {
  const bool new_action = starts_burst(code);
  std::vector<std::string> utf8;
  for (const auto& a : arguments) utf8.push_back(a.toStdString());
  std::string bytes = wire::encode_command(device_id.toStdString(), code, utf8);
  commands_.sent(device_id, code, QStringList(arguments), bytes, QDateTime::currentMSecsSinceEpoch(), new_action);
  // A player the operator commands is theirs: a full registry keeps it.
  operator_players_.insert(device_id);
  note_command(code);
  emit command_sent_to(device_id, code);
  send_bytes(bytes);
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

void UDP_Feedback::show_tally() {
  if (!CommandTracker::confirmable(commands_.tally().code) || !socket_) return;
  const QString text = commands_.tally_text();
  if (text == last_command_) return;
  last_command_ = text;
  emit last_command_changed(last_command_);
}

void UDP_Feedback::simple_command(int code, bool rebuild_map) {
  if (!devices_.has_selection()) return;
  for (const auto& r : devices_.selected_records()) send(r.value("device_id").toString(), code);
  if (rebuild_map) reload_map();
}

bool UDP_Feedback::refuse_separator(const QString& typed) {
  if (!wire::contains_separator(typed.toStdString())) return false;
  dialogs_.alert(QString("The text must not contain %1").arg(QString::fromUtf8(wire::kSeparator)),
                 "The players would read it as two fields. Nothing was sent.", {"OK"});
  return true;
}

bool UDP_Feedback::refuse_name(const QString& name) {
  if (refuse_separator(name)) return true;
  if (!name.trimmed().isEmpty() && !name.contains('\n') && !name.contains('\r')) return false;
  dialogs_.alert("The name must not be empty or blank, or span several lines.",
                 "The players would show no name, or a broken one. Nothing was sent.", {"OK"});
  return true;
}

void UDP_Feedback::changeName() {
  if (devices_.selection_count() != 1) return;
  const Record player = devices_.selected_records().first();
  console_log("EDIT");
  const auto name = dialogs_.prompt("Please enter the new name:", player.value("device_name").toString(), 200);
  if (!name || refuse_name(*name)) return;
  console_log(QString("NEW NAME: %1").arg(*name));
  send(player.value("device_id").toString(), wire::kRename, {*name});
  reload_map();
}

void UDP_Feedback::sendM3U8() {
  if (!devices_.has_selection()) return;
  console_log("M3u8");
  const auto address = dialogs_.prompt("Please enter the web address:", "", 400);
  if (!address || refuse_separator(*address)) return;
  if (address->trimmed().isEmpty()) {
    dialogs_.alert("The web address must not be empty.", "The players would have nothing to play. Nothing was sent.",
                   {"OK"});
    return;
  }
  console_log(QString("NEW WEB ADDRESS: %1").arg(*address));
  for (const auto& r : devices_.selected_records()) send(r.value("device_id").toString(), wire::kWebStream, {*address});
}

void UDP_Feedback::send_playlist(const QVariant& object) {
  if (!devices_.has_selection()) return;
  const QVariantMap list = object.toMap();
  const int code = list.contains("tasklist") ? wire::kLoadSchedule : wire::kLoadPlaylist;
  const QString id = QString::number(list.value("id").toLongLong());
  const QString name = list.value("name").toString();
  if (refuse_separator(name)) return;  // the players would read two fields
  // A schedule plays its tasks' playlists: the player reports those ids.
  QList<qint64> ids{list.value("id").toLongLong()};
  for (const QVariant& task : list.value("tasklist").toList())
    if (const QString task_list = task.toMap().value("list").toString(); !task_list.isEmpty())
      ids.append(read_integer(task_list));
  for (const auto& r : devices_.selected_records()) {
    const QString device_id = r.value("device_id").toString();
    for (qint64 sent : ids) list_sends_.sent(device_id, sent);
    send(device_id, code, {id, name});
  }
  autosave_.touch();
}

void UDP_Feedback::refresh_lists() {
  console_log("REFRESH LISTS");
  bus_.post(note::SAVE_ALL_LISTS);
  const RecordArray selected = devices_.selected_records();
  // The players fetch the files as soon as they hear this: it leaves only
  // once every file of the save-all is written.
  BackgroundWriter::instance().after_pending(this, [this, selected] {
    if (!selected.isEmpty()) note_command(wire::kRefreshLists, static_cast<int>(selected.size()));
    QPointer<UDP_Feedback> self(this);
    for (int i = 0; i < selected.size(); ++i) {
      const std::string bytes =
          wire::encode_command(selected[i].value("device_id").toString().toStdString(), wire::kRefreshLists);
      run_after(i * 0.01, [self, bytes] {
        if (self) self->send_bytes(bytes);
      });
    }
  });
  reload_map();
}

void UDP_Feedback::set_as_new_background_pic() {
  if (!content_list_ || content_list_->selection_count() != 1) {
    dialogs_.alert("Please select one file in the content list", "", {"OK"});
    return;
  }
  const QUrl url = content_list_->selected_records().first().value("file_url").toUrl();
  const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
  const QString extension = QFileInfo(path).suffix().toLower();
  if (extension != "png" && extension != "jpg") {
    dialogs_.alert("Please select a file with the extension png or jpg", "", {"OK"});
    return;
  }
  // The header is enough for the size; the image is not decoded.
  const QSize size = QImageReader(path).size();
  if (!size.isValid()) {
    dialogs_.alert("the image could not be read", path, {"OK"});
    return;
  }
  console_log(QString::asprintf("IMAGE_SIZE:  %0f | %0f", double(size.width()), double(size.height())));
  if (size.width() != 1920) {
    dialogs_.alert("the image is not in the right dimensions: width is not 1920", "", {"OK"});
    return;
  }
  if (size.height() != 1080) {
    dialogs_.alert("the image is not in the right dimensions: height is not 1080", "", {"OK"});
    return;
  }
  const QString file_name = QFileInfo(path).fileName();
  for (const auto& r : devices_.selected_records())
    send(r.value("device_id").toString(), wire::kBackground, {file_name});
  console_log("BG IMAGE SEND ERFOLGT");
}

void UDP_Feedback::discover_devices() {
  last_datagram_.reset();
  devices_.refresh();
  reload_map();
}

void UDP_Feedback::send_simple_feedback() { send_bytes(wire::simple_feedback_request()); }

}  // namespace tavri
