#include "schedule_view.h"

#include <QDate>
#include <QFileInfo>
#include <QPointer>
#include <numeric>

#include "core/catalogue.h"
#include "core/console.h"
#include "core/keyed_archive.h"
#include "core/local_day.h"
#include "core/main_queue.h"
#include "core/movielist.h"
#include "playlists/missing_media.h"
#include "core/notifications.h"
#include "core/undo_history.h"
#include "playlists/play_list.h"
#include "playlists/published_file.h"
#include "schedules/dayparts.h"
#include "schedules/schedule.h"

namespace tavri {

namespace {

QString today() { return QDate::currentDate().toString("yyyy-MM-dd"); }

// The live playlist array, fetched through the bus as every reader does.
RecordArray request_playlists(Bus& bus) {
  RecordArray playlists;
  int token = 0;
  bus.register_observer(&token, note::PLAYLISTARRAY_GET_FEEDBACK,
                        [&](const QVariant& v) { playlists = to_record_array(v.toList()); });
  bus.post(note::PLAYLISTARRAY_WILL_HAVE_FEEDBACK);
  bus.unregister(&token);
  return playlists;
}

QString choice_for(const Record& playlist) {
  return QString("%1 - %2").arg(playlist.value("id").toString(), playlist.value("name").toString());
}

}  // namespace

Schedule_View::Schedule_View(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::FOLDER_URL, [this](const QVariant& v) { get_folder_url(v); });
  bus_.register_observer(this, note::SCHEDULE_LIST_DID_CHANGE, [this](const QVariant&) { tableViewSelectionDidChange(); });
  bus_.register_observer(this, note::SAVE_ALL_LISTS, [this](const QVariant&) { save_all(); });
  bus_.register_observer(this, note::PLAYLIST_DID_PUBLISH, [this](const QVariant& v) { playlist_published(v.toInt()); });
  // A new or returning content folder gets every file the players may ask
  // for, and so do records put back by an undo.
  bus_.register_observer(this, note::SET_SERVER_PATH, [this](const QVariant&) { queue_stale_check(); });
  bus_.register_observer(this, note::PUBLISH_STALE_FILES, [this](const QVariant&) { queue_stale_check(); });
  connect(&tasks_, &RecordList::changed, this, &Schedule_View::write_back);
  day_timer_.setSingleShot(true);
  day_timer_.setTimerType(Qt::VeryCoarseTimer);
  connect(&day_timer_, &QTimer::timeout, this, &Schedule_View::new_day);
  arm_day_timer();
  // A new task row selected by the operator reorders and republishes; our
  // own edits change the selection too, and publish once at their end.
  // Selecting a row republishes but does not reorder: the rows stay where
  // the operator is clicking (a click on a check box would otherwise land
  // on the task sorted into its place). Edits that change a time reorder
  // when they end, keeping the edited task selected.
  connect(&tasks_, &RecordList::selection_changed, this, [this] {
    if (!writing_back_ && editing_ == 0) task_count_change(false);
  });
}

void Schedule_View::attach(Schedule* schedules, PlayList* playlists, RecordList* content) {
  schedules_ = schedules;
  playlists_ = playlists;
  content_ = content;
}

RecordList* Schedule_View::schedule_list() const {
  return schedules_ ? &schedules_->ArrayController_SCHEDULELIST() : nullptr;
}
RecordList* Schedule_View::playlist_list() const {
  return playlists_ ? &playlists_->ArrayController_PLAYLIST() : nullptr;
}

void Schedule_View::get_folder_url(const QVariant& url) { folder_url_ = url.toUrl(); }

int Schedule_View::selected_schedule() const {
  if (!schedule_list()) return -1;
  const QList<int> selected = schedule_list()->selected_list_indices();
  return selected.isEmpty() ? -1 : selected.first();
}

Record Schedule_View::new_task(const QString& name, int list) {
  return Record{{"name", name}, {"date", today()}, {"time", "00:00"}, {"daily", 1},
                {"cut", 0},     {"active", 1},     {"list", list}};
}

void Schedule_View::write_back() {
  const int s = selected_schedule();
  if (s < 0 || writing_back_) return;
  writing_back_ = true;
  schedule_list()->set_value(s, "tasklist", to_variant_list(tasks_.records()));
  writing_back_ = false;
}

void Schedule_View::tableViewSelectionDidChange() {
  if (writing_back_) return;
  const int s = selected_schedule();
  writing_back_ = true;
  // Keep the task selection across a reload of the same schedule only: an
  // index means another task in another schedule.
  const QVariant id = s < 0 ? QVariant() : schedule_list()->at(s).value("id");
  const QList<int> task_selection = id == shown_schedule_id_ ? tasks_.selected_list_indices() : QList<int>();
  shown_schedule_id_ = id;
  if (s < 0) {
    tasks_.clear();
    writing_back_ = false;
    return;
  }
  console_log("CHANGE SELECTION");
  tasks_.set_records(to_record_array(schedule_list()->at(s).value("tasklist").toList()));
  tasks_.select_list_indices(task_selection);
  writing_back_ = false;
  task_count_change();
}

void Schedule_View::resort_table() {
  const RecordArray tasks = tasks_.records();
  std::vector<int> order(tasks.size());
  std::iota(order.begin(), order.end(), 0);
  auto key = [&](int i, const char* k) { return tasks[i].value(k).toString(); };
  // By date, then stably by time: time-of-day order first.
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a, "date") < key(b, "date"); });
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a, "time") < key(b, "time"); });
  if (std::is_sorted(order.begin(), order.end())) return;
  const QList<int> selected = tasks_.selected_list_indices();
  RecordArray sorted;
  QList<int> new_selection;
  for (int k = 0; k < static_cast<int>(order.size()); ++k) {
    sorted.append(tasks[order[k]]);
    if (selected.contains(order[k])) new_selection.append(k);
  }
  writing_back_ = true;
  tasks_.set_records(sorted);
  tasks_.select_list_indices(new_selection);  // the selected tasks stay selected
  writing_back_ = false;
  write_back();
}

void Schedule_View::task_count_change(bool resort) {
  if (resort) resort_table();
  const int s = selected_schedule();
  if (s >= 0) {
    writing_back_ = true;
    schedule_list()->set_value(s, "tasks", static_cast<int>(tasks_.size()));
    writing_back_ = false;
  }
  save_schedule(false);
}

Record Schedule_View::published_schedule(const Record& schedule, const RecordArray& playlists, const QDate& today) {
  Record copy = schedule;
  copy.remove(dayparts::kFallback);  // ours, never the players'
  // Rules compile into the dated tasks the players know; a schedule
  // without them is published as it is stored.
  if (dayparts::has_rules(schedule)) {
    const RecordArray compiled = dayparts::compile(to_record_array(schedule.value("tasklist").toList()),
                                                   dayparts::fallback_of(schedule), today, dayparts::horizon_days());
    copy["tasklist"] = to_variant_list(compiled);
    copy["tasks"] = static_cast<int>(compiled.size());
  }
  // Each playlist's items are decoded once per publication, however many
  // tasks play it.
  QHash<int, QVariantList> items_of;
  auto items_for = [&](const Record& playlist) -> const QVariantList& {
    const int id = playlist.value("id").toInt();
    auto it = items_of.find(id);
    if (it == items_of.end()) it = items_of.insert(id, published_items(playlist, today));
    return *it;
  };
  QVariantList movielist;
  for (const Record& task : to_record_array(copy.value("tasklist").toList())) {
    Record entry = task;
    if (flag_is_set(task.value("active"))) {
      const int list = read_integer(task.value("list").toString());
      for (const Record& playlist : playlists)
        if (playlist.value("id").toInt() == list) {
          // A dated task carries the items of its own day.
          const QDate day = QDate::fromString(task.value("date").toString(), "yyyy-MM-dd");
          const QVariantList items =
              !flag_is_set(task.value("daily")) && day.isValid() && day != today ? published_items(playlist, day)
                                                                                : items_for(playlist);
          if (!items.isEmpty()) {
            entry["playlist_name"] = playlist.value("name").toString();
            entry["playlist_file_name"] = QString("PLAYLIST_ID_%1.SAV").arg(list);
            entry["playlist_files"] = items;
          }
          break;
        }
    }
    movielist.append(entry);
  }
  copy["movielist"] = movielist;
  return copy;
}

Record Schedule_View::publish_schedule(const Record& schedule) {
  const Record copy =
      published_schedule(schedule, playlist_list() ? playlist_list()->records() : RecordArray(), local_today());
  bus_.post(note::GET_URL);
  publish_now(folder_url_, schedule_file_name(copy.value("id")), encode_root_archive(copy), kSchedulePublishTag);
  return copy;
}

void Schedule_View::publish_schedule_later(const Record& schedule) {
  bus_.post(note::GET_URL);
  // The embedding and encoding happen on the writer, from snapshots.
  publish_later(
      folder_url_, schedule_file_name(schedule.value("id")),
      [schedule, playlists = playlist_list() ? playlist_list()->records() : RecordArray(), day = local_today()] {
        return encode_root_archive(published_schedule(schedule, playlists, day));
      },
      kSchedulePublishTag);
}

void Schedule_View::save_schedule(bool send) {
  const int s = selected_schedule();
  if (s < 0) return;
  // Published even without tasks or playlists: players must never keep an
  // older schedule's tasks under this id.
  if (!send) {
    publish_schedule_later(schedule_list()->at(s));
    return;
  }
  const Record schedule = schedule_list()->at(s);
  QStringList missing;
  for (const Record& task : to_record_array(schedule.value("tasklist").toList())) {
    if (!flag_is_set(task.value("active")) || !playlist_list()) continue;
    const int list = read_integer(task.value("list").toString());
    for (const Record& playlist : playlist_list()->records())
      if (playlist.value("id").toInt() == list)
        for (const QString& name : missing_files(playlist))
          if (!missing.contains(name)) missing << name;
  }
  if (!confirm_send_despite_missing(dialogs_, schedule.value("name").toString(), missing)) return;
  // Players fetch it as soon as they hear the command: written first.
  bus_.post(note::SEND_PLAYLIST, publish_schedule(schedule));
}

namespace {
// The playlist ids that a schedule's tasks play (active ones only, when asked).
QSet<int> played_ids(const Record& schedule, bool active_only) {
  QSet<int> ids;
  for (const Record& task : to_record_array(schedule.value("tasklist").toList()))
    if (!active_only || flag_is_set(task.value("active"))) ids.insert(read_integer(task.value("list").toString()));
  if (const int fallback = dayparts::fallback_of(schedule); fallback != -1) ids.insert(fallback);
  return ids;
}
}  // namespace

void Schedule_View::playlist_published(int id) {
  if (!schedule_list()) return;
  for (int i = 0; i < schedule_list()->size(); ++i)
    if (played_ids(schedule_list()->at(i), true).contains(id)) publish_schedule_later(schedule_list()->at(i));
}

QStringList Schedule_View::schedules_using(const QSet<int>& ids) const {
  QStringList names;
  if (!schedule_list()) return names;
  for (const Record& schedule : schedule_list()->records())
    if (played_ids(schedule, false).intersects(ids)) names << QString("\"%1\"").arg(schedule.value("name").toString());
  return names;
}

void Schedule_View::forget_playlists(const QSet<int>& ids) {
  if (!schedule_list()) return;
  const int selected = selected_schedule();
  for (int i = 0; i < schedule_list()->size(); ++i) {
    QVariantList tasks = schedule_list()->at(i).value("tasklist").toList();
    bool changed = false;
    if (ids.contains(dayparts::fallback_of(schedule_list()->at(i)))) {
      writing_back_ = true;
      schedule_list()->set_value(i, dayparts::kFallback, -1);
      writing_back_ = false;
      changed = true;
    }
    for (QVariant& v : tasks) {
      Record task = v.toMap();
      if (!ids.contains(read_integer(task.value("list").toString()))) continue;
      task["list"] = -1;  // shown as "---"
      v = task;
      changed = true;
    }
    if (changed) write_tasklist(i, tasks, selected);
  }
}

void Schedule_View::write_tasklist(int index, const QVariantList& tasks, int selected) {
  writing_back_ = true;
  schedule_list()->set_value(index, "tasklist", tasks);
  writing_back_ = false;
  if (index == selected)
    tableViewSelectionDidChange();  // reloads the tasks and republishes
  else
    publish_schedule_later(schedule_list()->at(index));
}

QVariant Schedule_View::uses_snapshot() const {
  QVariantMap tasklists;
  if (schedule_list())
    for (const Record& schedule : schedule_list()->records())
      tasklists.insert(schedule.value("id").toString(), schedule.value("tasklist"));
  return tasklists;
}

void Schedule_View::restore_uses(const QVariant& snapshot) {
  if (!schedule_list()) return;
  const QVariantMap tasklists = snapshot.toMap();
  const int selected = selected_schedule();
  for (int i = 0; i < schedule_list()->size(); ++i) {
    const QString id = schedule_list()->at(i).value("id").toString();
    if (!tasklists.contains(id) || tasklists.value(id) == schedule_list()->at(i).value("tasklist")) continue;
    write_tasklist(i, tasklists.value(id).toList(), selected);
  }
}

void Schedule_View::arm_day_timer() {
  // A few seconds past midnight, so the new date is read on the new day.
  const QDateTime next(QDate::currentDate().addDays(1), QTime(0, 0, 5));
  day_timer_.start(std::chrono::milliseconds(std::max<qint64>(1000, QDateTime::currentDateTime().msecsTo(next))));
}

void Schedule_View::new_day() {
  console_log(QString("NEW DAY %1: REPUBLISHING").arg(local_today().toString("yyyy-MM-dd")));
  publish_stale_files();
  arm_day_timer();
}

void Schedule_View::queue_stale_check() {
  if (stale_check_queued_) return;
  stale_check_queued_ = true;
  QPointer<Schedule_View> self(this);
  run_next([self] {
    if (!self) return;
    self->stale_check_queued_ = false;
    self->publish_stale_files();
  });
}

void Schedule_View::publish_stale_files() {
  bus_.post(note::GET_URL);
  if (!folder_url_.isLocalFile()) return;
  const RecordArray playlists = playlist_list() ? playlist_list()->records() : RecordArray();
  for (const Record& playlist : playlists)
    publish_later(
        folder_url_, playlist_file_name(playlist.value("id")), [playlist, day = local_today()] { return playlist_file_bytes(playlist, day); },
        kPlaylistPublishTag);
  if (schedule_list())
    for (const Record& schedule : schedule_list()->records()) publish_schedule_later(schedule);
}
void Schedule_View::add_line() {
  if (selected_schedule() < 0) return;
  console_log("ADD SCHEDULE TASK");
  const auto name = prompt_for_name(dialogs_, "New Schedule Task");
  if (!name) return;
  console_log(QString("NEW SCHEDULE TASK: %1").arg(*name));
  {
    Editing editing(editing_);
    tasks_.append(new_task(*name));
    tasks_.select_list_indices({tasks_.size() - 1});  // the new task, to be edited next
  }
  task_count_change();
}

void Schedule_View::copy_line() {
  const RecordArray selected = tasks_.selected_records();
  if (selected.isEmpty()) return;
  {
    Editing editing(editing_);
    for (Record task : selected) {
      task["name"] = QString("%1 - copy").arg(task.value("name").toString());
      tasks_.append(task);
    }
    resort_table();
  }
  task_count_change();
}

void Schedule_View::rename_line() {
  const QList<int> selected = tasks_.selected_list_indices();
  if (selected.size() != 1) {
    dialogs_.alert("sorry", "please select one line for renameing", {"OK"});
    return;
  }
  console_log("EDIT");
  const auto name = prompt_for_name(dialogs_, tasks_.at(selected.first()).value("name").toString());
  if (!name) return;
  console_log(QString("NEW NAME: %1").arg(*name));
  if (const Outcome o = set_task_value(shown_schedule_id_.toLongLong(), selected, "name", *name); !o.ok())
    dialogs_.alert(o.message, o.detail, {"OK"});
}

void Schedule_View::change_selected(const QString& key, const QString& format, bool date) {
  const QList<int> selected = tasks_.selected_list_indices();
  if (selected.isEmpty()) return;
  const QString current = tasks_.at(selected.first()).value(key).toString();
  QDateTime start = QDateTime::currentDateTime();
  if (date) {
    const QDate d = QDate::fromString(current, format);
    if (d.isValid()) start = QDateTime(d, start.time());
  } else {
    const QTime t = QTime::fromString(current, format);
    if (t.isValid()) start = QDateTime(start.date(), t);
  }
  const auto picked = date ? dialogs_.pick_date("Please change the date:", start)
                           : dialogs_.pick_time("Please change the time:", start);
  if (!picked) return;
  const QString text = date ? picked->date().toString(format) : picked->time().toString(format);
  set_task_value(shown_schedule_id_.toLongLong(), selected, key, text);
}

void Schedule_View::change_date() { change_selected("date", "yyyy-MM-dd", true); }
void Schedule_View::change_time() { change_selected("time", "HH:mm", false); }

void Schedule_View::delete_line() {
  QList<int> selected = tasks_.selected_list_indices();
  if (selected.isEmpty()) return;
  QStringList names;
  for (int index : selected) names << QString("\"%1\"").arg(tasks_.at(index).value("name").toString());
  const QString message =
      selected.size() == 1 ? QString("Delete the task %1?").arg(names.first()) : QString("Delete %1 tasks?").arg(selected.size());
  if (dialogs_.alert(message, names.join("\n"), {"Cancel", "Delete"}) != 1) return;
  std::sort(selected.begin(), selected.end(), std::greater<>());
  std::vector<std::pair<int, Record>> removed;
  for (int index : selected) removed.emplace_back(index, tasks_.at(index));
  remove_tasks(shown_schedule_id_.toLongLong(), selected);
  const QVariant schedule_id = schedule_list()->at(selected_schedule()).value("id");
  QPointer<Schedule_View> self(this);
  remember_deletion(selected.size() == 1 ? QString("delete task %1").arg(names.first()) : QString("delete tasks"),
                    [self, schedule_id, removed] {
                      if (self) self->put_back_tasks(schedule_id, removed);
                    });
}

// Into the schedule they came from, at their places, lowest first.
void Schedule_View::put_back_tasks(const QVariant& schedule_id, const std::vector<std::pair<int, Record>>& removed) {
  if (!schedule_list()) return;
  int owner = -1;
  for (int i = 0; i < schedule_list()->size(); ++i)
    if (schedule_list()->at(i).value("id") == schedule_id) owner = i;
  if (owner < 0) return;  // the schedule is gone as well
  if (owner != selected_schedule()) {
    schedule_list()->select_list_indices({owner});
    tableViewSelectionDidChange();
  }
  {
    Editing editing(editing_);
    for (auto it = removed.rbegin(); it != removed.rend(); ++it)
      tasks_.insert(std::min(it->first, tasks_.size()), it->second);
  }
  task_count_change();
}

void Schedule_View::send_to_device() { save_schedule(true); }

void Schedule_View::create_schedule_from_content() {
  if (!content_ || !content_->has_selection() || !schedules_) return;
  console_log("ADD SCHEDULE");
  const auto name = prompt_for_name(dialogs_, "New Schedule");
  if (!name) return;
  console_log(QString("NEW SCHEDULE: %1").arg(*name));
  auto schedule = schedules_->new_schedule(*name);
  if (!schedule) return;
  schedules_->append_and_select(*schedule);
  create_schedule_from_tool_with_name(*name);
}

void Schedule_View::create_schedule_from_tool_with_name(const QString& name) {
  if (!content_ || !content_->has_selection() || !playlists_) return;
  QList<int> indices = content_->selected_list_indices();
  std::sort(indices.begin(), indices.end());
  QList<std::pair<QString, int>> made;
  for (int i : indices) {
    const Record item = content_->at(i);
    const QString file = QFileInfo(item.value("file_url").toUrl().toLocalFile()).completeBaseName();
    const QString list_name = QString("%1 | %2").arg(name, file);
    console_log(QString("NEW LIST: %1").arg(list_name));
    auto playlist = playlists_->new_playlist(list_name);
    if (!playlist) break;
    store_movielist(*playlist, {item});
    made.append({list_name, playlist->value("id").toInt()});
    playlists_->append_and_select(*playlist);
  }
  {
    Editing editing(editing_);
    for (const auto& [list_name, id] : made) tasks_.append(new_task(list_name, id));
  }
  task_count_change();
}

bool Schedule_View::add_content_tasks(const QList<int>& content_indices) {
  const int s = selected_schedule();
  if (s < 0 || !content_ || content_indices.isEmpty()) return false;
  content_->select_list_indices(content_indices);
  create_schedule_from_tool_with_name(schedule_list()->at(s).value("name").toString());
  return true;
}

void Schedule_View::save_all() {
  // The files that selecting every playlist and schedule in turn would
  // write, encoded on the writer from snapshots: the window does not wait,
  // and the selections are left as they are.
  publish_stale_files();
}

QStringList Schedule_Play_list_Array::transformedValue(const QVariant&) const {
  QStringList choices{"---"};
  for (const Record& playlist : request_playlists(bus_)) choices << choice_for(playlist);
  return choices;
}

QString Schedule_Play_list_name::transformedValue(const QVariant& list) const {
  if (!list.isValid() || list.isNull() || list.toInt() == -1) return "---";
  for (const Record& playlist : request_playlists(bus_))
    if (playlist.value("id").toInt() == list.toInt())
      return QString("%1 - %2").arg(list.toString(), playlist.value("name").toString());
  return "---";
}

int Schedule_Play_list_name::reverseTransformedValue(const QVariant& choice) const {
  if (!choice.isValid() || choice.typeId() != QMetaType::QString) return -1;
  const QString text = choice.toString();
  if (text == "---") return -1;
  return read_integer(text.section(' ', 0, 0));
}

}  // namespace tavri
