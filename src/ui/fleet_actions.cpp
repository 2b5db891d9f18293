#include "ui/fleet_actions.h"

#include <QUrl>

namespace tavri {

void FleetActions::tell(const Outcome& o) {
  if (!o.ok()) dialogs_.alert(o.message, o.detail, {"OK"});
}

std::optional<QString> FleetActions::ask_group(const QString& message, bool offer_new) {
  QStringList choices = groups_.names();
  if (offer_new) choices << "New group…";
  if (choices.isEmpty()) {
    dialogs_.alert("There are no groups yet.", "Select players and add them to a new group.", {"OK"});
    return std::nullopt;
  }
  const auto chosen = dialogs_.choose(message, {}, choices, 0);
  if (!chosen) return std::nullopt;
  if (!offer_new || *chosen < choices.size() - 1) return choices.value(*chosen);
  const auto name = dialogs_.prompt("Name of the new group:", "New Group", 200);
  if (!name) return std::nullopt;
  if (const Outcome o = groups_.create(*name); !o.ok()) {
    tell(o);
    return std::nullopt;
  }
  return *name;
}

bool FleetActions::select_group() {
  const auto name = ask_group("Select the players of the group:", false);
  if (!name) return false;
  const QStringList members = groups_.members(*name);
  const QSet<QString> wanted(members.begin(), members.end());
  RecordList& devices = players_.ArrayController_DEVICES();
  QList<int> rows;
  for (int i = 0; i < devices.size(); ++i)
    if (wanted.contains(devices.at(i).value("device_id").toString())) rows << i;
  devices.select_list_indices(rows);
  return true;
}

void FleetActions::add_selected_to_group() {
  const QStringList ids = players_.selected_ids();
  if (ids.isEmpty()) return tell(Outcome::bad("players", "Select the players to add first."));
  if (const auto name = ask_group(QString("Add %1 players to the group:").arg(ids.size()), true))
    tell(groups_.add(*name, ids));
}

void FleetActions::take_selected_out_of_group() {
  const QStringList ids = players_.selected_ids();
  if (ids.isEmpty()) return tell(Outcome::bad("players", "Select the players to take out first."));
  if (const auto name = ask_group(QString("Take %1 players out of the group:").arg(ids.size()), false))
    tell(groups_.take_out(*name, ids));
}

void FleetActions::remove_group() {
  const auto name = ask_group("Remove the group (its players stay):", false);
  if (name && dialogs_.alert(QString("Remove the group \"%1\"?").arg(*name), "Its players stay.", {"Cancel", "Remove"}) == 1)
    tell(groups_.remove(*name));
}

void FleetActions::start_announcement() {
  if (announcement_.running()) {
    dialogs_.alert(QString("The announcement \"%1\" is running.").arg(announcement_.label()), "End it first.", {"OK"});
    return;
  }
  // What: a playlist, a schedule or a web stream.
  QStringList what;
  QList<std::pair<bool, Record>> lists;
  for (const Record& p : playlists_.ArrayController_PLAYLIST().records()) {
    what << "playlist " + p.value("name").toString();
    lists.append({false, p});
  }
  for (const Record& s : schedules_.ArrayController_SCHEDULELIST().records()) {
    what << "schedule " + s.value("name").toString();
    lists.append({true, s});
  }
  // Images of the content folder, as backgrounds.
  QStringList backgrounds;
  for (const Record& item : files_.records())
    if (item.value("is_img").toBool() && item.value("file_url").toUrl().isLocalFile()) {
      backgrounds << item.value("file_url").toUrl().toLocalFile();
      what << "background " + item.value("file_url").toUrl().fileName();
    }
  what << "a web stream…";
  const auto chosen = dialogs_.choose("Announce:", "It interrupts the players until ended; then each gets back its own.",
                                      what, 0);
  if (!chosen) return;
  Announcement::Content content;
  if (*chosen < lists.size()) {
    content.list = lists[*chosen].second;
    content.label = what[*chosen];
  } else if (*chosen < lists.size() + backgrounds.size()) {
    content.background = backgrounds[*chosen - lists.size()];
    content.label = what[*chosen];
  } else {
    const auto address = dialogs_.prompt("Address of the web stream:", "https://", 300);
    if (!address) return;
    content.stream = address->trimmed();
    content.label = "stream " + content.stream;
  }
  // To whom: the selection, a group, or all.
  const QStringList selected = players_.selected_ids();
  QStringList to;
  if (!selected.isEmpty()) to << QString("the %1 selected players").arg(selected.size());
  for (const QString& g : groups_.names()) to << QString("group %1 (%2)").arg(g).arg(groups_.members(g).size());
  to << QString("all %1 players").arg(players_.player_ids().size());
  const auto target = dialogs_.choose("Announce to:", {}, to, 0);
  if (!target) return;
  QStringList ids, targets;
  const int first_group = selected.isEmpty() ? 0 : 1;
  if (!selected.isEmpty() && *target == 0) {
    ids = selected;
    targets = selected;
  } else if (*target == to.size() - 1) {
    ids = players_.player_ids();
    targets = {"all"};
    if (dialogs_.alert(QString("Interrupt all %1 players?").arg(ids.size()),
                       "Every screen shows the announcement until it ends.", {"Cancel", "Start"}) != 1)
      return;
  } else {
    const QString group = groups_.names().value(*target - first_group);
    ids = groups_.members(group);
    targets = {PlayerGroups::kPrefix + group};
  }
  const auto minutes = dialogs_.prompt("For how many minutes? (0: until ended)", "0", 80);
  if (!minutes) return;
  bool number = false;
  const int m = minutes->trimmed().toInt(&number);
  if (!number) return tell(Outcome::bad("minutes", QString("\"%1\" is not a number of minutes.").arg(*minutes)));
  tell(announcement_.start(content, ids, targets, m));
}

void FleetActions::end_announcement() { tell(announcement_.end()); }

void FleetActions::load_list(const std::function<void(bool schedule, int row)>& send) {
  const int players = static_cast<int>(players_.ArrayController_DEVICES().selected_list_indices().size());
  if (players == 0) {
    dialogs_.alert("Select the players first.", "The list goes to the players selected in the table.", {"OK"});
    return;
  }
  QStringList what;
  QList<std::pair<bool, int>> rows;
  const RecordList& playlists = playlists_.ArrayController_PLAYLIST();
  for (int i = 0; i < playlists.size(); ++i) {
    what << "playlist " + playlists.at(i).value("name").toString();
    rows.append({false, i});
  }
  const RecordList& schedules = schedules_.ArrayController_SCHEDULELIST();
  for (int i = 0; i < schedules.size(); ++i) {
    what << "schedule " + schedules.at(i).value("name").toString();
    rows.append({true, i});
  }
  if (what.isEmpty()) {
    dialogs_.alert("There is no playlist or schedule yet.", "Make one in the Playlists or Schedules pane.", {"OK"});
    return;
  }
  const auto chosen = dialogs_.choose("Load on the selected players:", QString("%1 player(s) are selected.").arg(players),
                                      what, 0);
  if (chosen) send(rows[*chosen].first, rows[*chosen].second);
}

}  // namespace tavri
