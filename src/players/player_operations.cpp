#include <QFileInfo>
#include <QPointer>

#include "core/background_writer.h"
#include "core/picture_size.h"
#include "core/console.h"
#include "core/main_queue.h"
#include "core/movielist.h"
#include "core/notifications.h"
#include "player_map.h"
#include "udp_feedback.h"

// The operator's actions on players, with explicit arguments: the window
// passes its selection, the API what the request names. Each checks every
// argument before it sends or changes anything.
namespace tavri {

namespace {
const QString kPlayers = "players";
}

QStringList UDP_Feedback::selected_ids() const {
  QStringList ids;
  for (const auto& r : devices_.selected_records()) ids << r.value("device_id").toString();
  return ids;
}

QStringList UDP_Feedback::player_ids() const {
  QStringList ids;
  QSet<QString> seen;
  for (int i = 0; i < devices_.size(); ++i) {
    const QString id = devices_.at(i).value("device_id").toString();
    if (!seen.contains(id)) {
      seen.insert(id);
      ids << id;
    }
  }
  return ids;
}

Outcome UDP_Feedback::check_players(const QStringList& ids, bool allow_none) {
  if (ids.isEmpty() && !allow_none) return Outcome::bad(kPlayers, "No player was named.");
  for (const QString& id : ids)
    if (records_with_id(id).isEmpty()) return Outcome::unknown(kPlayers, QString("No player has the id \"%1\".").arg(id));
  return Outcome::done();
}

Outcome UDP_Feedback::check_text(const QString& field, const QString& typed, text_rule::Kind kind) {
  if (const auto problem = text_rule::problem(typed, kind))
    return Outcome::bad(field, "This text cannot be sent.", *problem + ". Nothing was sent.");
  if (!wire::contains_separator(typed.toStdString())) return Outcome::done();
  return Outcome::bad(field, QString("The text must not contain %1").arg(QString::fromUtf8(wire::kSeparator)),
                      "The players would read it as two fields. Nothing was sent.");
}

Outcome UDP_Feedback::check_name(const QString& name) {
  if (name.trimmed().isEmpty() || name.contains('\n') || name.contains('\r'))
    return Outcome::bad("name", "The name must not be empty or blank, or span several lines.",
                        "The players would show no name, or a broken one. Nothing was sent.");
  return check_text("name", name, text_rule::Kind::name);
}

Outcome UDP_Feedback::command_players(int code, const QStringList& ids, const QStringList& arguments) {
  switch (code) {
    case wire::kSimpleFeedback:
      send_simple_feedback();
      return Outcome::done();
    case wire::kRename:
      if (ids.size() != 1) return Outcome::bad(kPlayers, "A rename names one player.");
      return rename_player(ids.first(), arguments.value(0));
    case wire::kLoadPlaylist:
    case wire::kLoadSchedule:
      return Outcome::bad("command", "A list is sent with its id: send a playlist or a schedule.");
    case wire::kRefreshLists:
      return refresh_lists(ids);
    case wire::kBackground:
      return set_background(arguments.value(0), ids);
    default:
      break;
  }
  if (code < 0 || code > wire::kBackground) return Outcome::bad("command", QString("No command has the code %1.").arg(code));
  if (Outcome o = check_players(ids); !o.ok()) return o;
  QStringList args;
  if (code == wire::kWebStream) {
    const QString address = arguments.value(0);
    if (Outcome o = check_text("address", address, text_rule::Kind::address); !o.ok()) return o;
    if (address.trimmed().isEmpty())
      return Outcome::bad("address", "The web address must not be empty.",
                          "The players would have nothing to play. Nothing was sent.");
    console_log(QString("NEW WEB ADDRESS: %1").arg(address));
    args << address;
  }
  for (const QString& id : ids) {
    if (code == wire::kWebStream) list_sends_.last(id, code, args);
    if (code == wire::kClearList || code == wire::kClearContent) list_sends_.forget_last(id);
    send(id, code, args);
  }
  if (code == wire::kClearList || code == wire::kClearContent) reload_map();
  return Outcome::done();
}

Outcome UDP_Feedback::rename_player(const QString& device_id, const QString& name) {
  if (Outcome o = check_players({device_id}); !o.ok()) return o;
  if (Outcome o = check_name(name); !o.ok()) return o;
  console_log(QString("NEW NAME: %1").arg(name));
  send(device_id, wire::kRename, {name});
  reload_map();
  return Outcome::done();
}

Outcome UDP_Feedback::remove_players(const QStringList& ids) {
  if (Outcome o = check_players(ids); !o.ok()) return o;
  std::vector<int> doomed;
  for (const QString& id : QSet<QString>(ids.begin(), ids.end())) {
    for (int i : records_with_id(id)) doomed.push_back(i);
    forget_player(id);
    operator_players_.remove(id);
  }
  devices_.remove_list_indices(doomed);
  reload_map();
  emit players_removed(ids);
  return Outcome::done();
}

void UDP_Feedback::remove_all_players() {
  const QStringList ids = player_ids();
  devices_.clear();
  operator_players_.clear();
  list_sends_.clear();
  commands_ = CommandTracker(config_.commands);
  last_datagram_.reset();
  save();
  reload_map();
  emit players_removed(ids);
}

void UDP_Feedback::put_back_players(const RecordArray& removed, const QSet<QString>& operators, const QVariant& sends) {
  // A player heard since keeps its fresh status but gets back its name and
  // its place on the map; one not heard since comes back as it was.
  QHash<QString, int> present;
  for (int i = 0; i < devices_.size(); ++i) present.insert(devices_.at(i).value("device_id").toString(), i);
  for (const Record& r : removed) {
    const QString id = r.value("device_id").toString();
    if (const auto it = present.constFind(id); it != present.cend()) {
      devices_.set_value(*it, "device_name", r.value("device_name"));
      if (r.contains(player_map::kIconKey)) devices_.set_value(*it, player_map::kIconKey, r.value(player_map::kIconKey));
    } else {
      devices_.append(r);
    }
  }
  operator_players_.unite(operators);
  if (!list_sends_.to_variant().isValid()) list_sends_ = ListSends::from_variant(sends);
  console_log(QString("PUT BACK %1 PLAYERS").arg(removed.size()));
  save();
  reload_map();
}

Outcome UDP_Feedback::accept_address(const QString& device_id) {
  const QList<int> at = records_with_id(device_id);
  if (at.size() != 1) return Outcome::unknown(kPlayers, QString("No player has the id \"%1\".").arg(device_id));
  const QString claimed = devices_.at(at.first()).value(kClaimedAddressKey).toString();
  if (claimed.isEmpty())
    return Outcome::conflict(kPlayers, QString("The player \"%1\" was heard from no other address.").arg(device_id));
  console_log(QString("ADDRESS ACCEPTED: %1 now at %2").arg(device_id, claimed));
  Record r = devices_.at(at.first());
  r.insert("device_ip", claimed);
  r.remove(kClaimedAddressKey);
  devices_.replace(at.first(), r);
  mark_operator_player(device_id);
  return Outcome::done();
}

Outcome UDP_Feedback::send_list(const QVariantMap& list, const QStringList& ids) {
  if (Outcome o = check_players(ids); !o.ok()) return o;
  const int code = list.contains("tasklist") ? wire::kLoadSchedule : wire::kLoadPlaylist;
  const QString id = QString::number(list.value("id").toLongLong());
  const QString name = list.value("name").toString();
  if (Outcome o = check_text("name", name, text_rule::Kind::name); !o.ok()) return o;  // the players would read two fields
  // A schedule plays its tasks' playlists: the player reports those ids.
  QList<qint64> list_ids{list.value("id").toLongLong()};
  for (const QVariant& task : list.value("tasklist").toList())
    if (const QString task_list = task.toMap().value("list").toString(); !task_list.isEmpty())
      list_ids.append(read_integer(task_list));
  if (list.contains("fallback")) list_ids.append(read_integer(list.value("fallback").toString()));  // dayparts' fallback
  const QSet<qint64> task_lists(list_ids.begin() + 1, list_ids.end());
  for (const QString& device_id : ids) {
    for (qint64 sent : list_ids) list_sends_.sent(device_id, sent);
    if (code == wire::kLoadSchedule)
      list_sends_.sent_schedule(device_id, list_ids.first(), task_lists);
    else
      list_sends_.sent_playlist(device_id);
    list_sends_.last(device_id, code, {id, name});
    send(device_id, code, {id, name});
  }
  autosave_.touch();
  return Outcome::done();
}

Outcome UDP_Feedback::refresh_lists(const QStringList& ids) {
  if (Outcome o = check_players(ids, true); !o.ok()) return o;
  console_log("REFRESH LISTS");
  bus_.post(note::SAVE_ALL_LISTS);
  // The players fetch the files as soon as they hear this: it leaves only
  // once every file of the save-all is written.
  BackgroundWriter::instance().after_pending(this, [this, ids] {
    if (!ids.isEmpty()) note_command(wire::kRefreshLists, static_cast<int>(ids.size()));
    QPointer<UDP_Feedback> self(this);
    for (int i = 0; i < ids.size(); ++i) {
      const std::string bytes = wire::encode_command(ids[i].toStdString(), wire::kRefreshLists);
      run_after(i * 0.01, [self, bytes] {
        if (self) self->send_bytes(bytes);
      });
    }
  });
  reload_map();
  return Outcome::done();
}

Outcome UDP_Feedback::set_background(const QString& path, const QStringList& ids) {
  if (Outcome o = check_players(ids, true); !o.ok()) return o;
  const QString extension = QFileInfo(path).suffix().toLower();
  if (extension != "png" && extension != "jpg")
    return Outcome::bad("file", "Please select a file with the extension png or jpg");
  // The header is enough for the size; the image is not decoded.
  const auto read = picture_size_of_file(path);
  if (!read) return Outcome::bad("file", "the image could not be read", path);
  const QSize size = *read;
  console_log(QString::asprintf("IMAGE_SIZE:  %0f | %0f", double(size.width()), double(size.height())));
  if (size.width() != 1920) return Outcome::bad("file", "the image is not in the right dimensions: width is not 1920");
  if (size.height() != 1080) return Outcome::bad("file", "the image is not in the right dimensions: height is not 1080");
  const QString file_name = QFileInfo(path).fileName();
  for (const QString& id : ids) {
    list_sends_.background(id, path);
    send(id, wire::kBackground, {file_name});
  }
  console_log("BG IMAGE SEND ERFOLGT");
  return Outcome::done();
}

}  // namespace tavri
