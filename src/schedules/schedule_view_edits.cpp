// The task edits that name a schedule by id and its tasks by index: the
// API's, and the buttons' with the selection.
#include <QDate>
#include <QRegularExpression>
#include <QTime>

#include "core/catalogue.h"
#include "core/console.h"
#include "core/local_day.h"
#include "playlists/play_list.h"
#include "schedules/dayparts.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"

namespace tavri {

namespace {

// A task's date and time as the players read them; a refusal names `field`.
Outcome check_date(const QString& date, const QString& field) {
  if (QDate::fromString(date, "yyyy-MM-dd").isValid()) return Outcome::done();
  return Outcome::bad(field, QString("\"%1\" is not a date (yyyy-MM-dd).").arg(date));
}
Outcome check_time(const QString& time, const QString& field) {
  if (time.size() == 5 && QTime::fromString(time, "HH:mm").isValid()) return Outcome::done();
  return Outcome::bad(field, QString("\"%1\" is not a time of day (HH:mm).").arg(time));
}
Outcome unknown_playlist(const QString& id, const QString& field) {
  return Outcome::unknown(field, QString("No playlist has the id %1.").arg(id));
}
// A schedule whose rules would compile into more dated tasks than a player
// should fetch is refused.
Outcome check_compiled_size(const RecordArray& tasks, int fallback) {
  const auto n = dayparts::compile(tasks, fallback, local_today(), dayparts::horizon_days()).size();
  if (n <= dayparts::kMostCompiledTasks) return Outcome::done();
  return Outcome::no_room("tasks", QString("These rules give %1 dated tasks; a schedule holds at most %2.")
                                       .arg(n)
                                       .arg(dayparts::kMostCompiledTasks),
                          "Use fewer days, or a shorter date range.");
}

}  // namespace

Outcome Schedule_View::set_tasks(qint64 id, const QList<TaskSpec>& wanted, std::optional<qint64> fallback) {
  if (!schedules_ || !schedule_list()) return Outcome::failed("The schedules are not ready.");
  const int index = schedules_->catalogue().index_of(id);
  if (index < 0) return Outcome::unknown("id", QString("No schedule has the id %1.").arg(id));
  QSet<qint64> playlists;
  if (playlist_list())
    for (const Record& p : playlist_list()->records()) playlists.insert(p.value("id").toLongLong());
  RecordArray tasks;
  for (const TaskSpec& t : wanted) {
    if (const Outcome o = Catalogue::check_name(t.name); !o.ok()) return Outcome::bad("tasks", o.message, o.detail);
    if (const Outcome o = check_date(t.date, "tasks"); !o.ok()) return o;
    if (const Outcome o = check_time(t.time, "tasks"); !o.ok()) return o;
    if (t.list != -1 && !playlists.contains(t.list)) return unknown_playlist(QString::number(t.list), "tasks");
    Record task = new_task(t.name, static_cast<int>(t.list));
    task["date"] = t.date;
    task["time"] = t.time;
    task["daily"] = t.daily ? 1 : 0;
    task["cut"] = t.cut ? 1 : 0;
    task["active"] = t.active ? 1 : 0;
    if (!t.days.isEmpty()) task[dayparts::kDays] = t.days;
    if (!t.first_date.isEmpty()) task[dayparts::kFirstDate] = t.first_date;
    if (!t.last_date.isEmpty()) task[dayparts::kLastDate] = t.last_date;
    if (!t.end_time.isEmpty()) task[dayparts::kEndTime] = t.end_time;
    if (const Outcome o = dayparts::check_rules(task, "tasks"); !o.ok()) return o;
    tasks.append(task);
  }
  if (fallback && *fallback != -1 && !playlists.contains(*fallback))
    return unknown_playlist(QString::number(*fallback), "fallback");
  const int fallback_list = fallback ? static_cast<int>(*fallback) : dayparts::fallback_of(schedule_list()->at(index));
  if (const Outcome o = check_compiled_size(tasks, fallback_list); !o.ok()) return o;
  if (fallback) {
    writing_back_ = true;
    schedule_list()->set_value(index, dayparts::kFallback, fallback_list);
    writing_back_ = false;
  }
  console_log(QString("SCHEDULE %1: %2 TASKS SET").arg(id).arg(tasks.size()));
  writing_back_ = true;
  schedule_list()->set_value(index, "tasks", static_cast<int>(tasks.size()));
  writing_back_ = false;
  write_tasklist(index, to_variant_list(tasks), selected_schedule());
  return Outcome::done();
}

std::optional<std::pair<int, RecordArray>> Schedule_View::tasks_of(qint64 id, Outcome& refusal) const {
  if (!schedules_ || !schedule_list()) {
    refusal = Outcome::failed("The schedules are not ready.");
    return std::nullopt;
  }
  const int index = schedules_->catalogue().index_of(id);
  if (index < 0) {
    refusal = Outcome::unknown("id", QString("No schedule has the id %1.").arg(id));
    return std::nullopt;
  }
  if (is_shown(index)) return std::pair{index, tasks_.records()};
  return std::pair{index, to_record_array(schedule_list()->at(index).value("tasklist").toList())};
}

bool Schedule_View::is_shown(int index) const {
  return shown_schedule_id_ == schedule_list()->at(index).value("id");
}

void Schedule_View::write_tasks(int index, const RecordArray& tasks) {
  writing_back_ = true;
  schedule_list()->set_value(index, "tasks", static_cast<int>(tasks.size()));
  writing_back_ = false;
  write_tasklist(index, to_variant_list(tasks), selected_schedule());
}

namespace {
Outcome bad_rows(const QList<int>& rows, int count) {
  if (rows.isEmpty()) return Outcome::bad("rows", "No task is named.");
  for (int row : rows)
    if (row < 0 || row >= count)
      return Outcome::bad("rows", QString("The schedule has no task %1 (it has %2).").arg(row + 1).arg(count));
  return Outcome::done();
}
}  // namespace

Outcome Schedule_View::set_task_value(qint64 id, const QList<int>& rows, const QString& key, const QVariant& value) {
  Outcome refusal;
  auto found = tasks_of(id, refusal);
  if (!found) return refusal;
  auto& [index, tasks] = *found;
  if (const Outcome o = bad_rows(rows, static_cast<int>(tasks.size())); !o.ok()) return o;
  QVariant stored = value;
  const QString text = value.toString();
  if (key == "name") {
    if (const Outcome o = Catalogue::check_name(text); !o.ok()) return Outcome::bad("value", o.message, o.detail);
  } else if (key == "date") {
    if (const Outcome o = check_date(text, "value"); !o.ok()) return o;
  } else if (key == "time") {
    if (const Outcome o = check_time(text, "value"); !o.ok()) return o;
  } else if (key == "daily" || key == "cut" || key == "active") {
    stored = value.toBool() ? 1 : 0;
  } else if (key == "list") {
    bool number = false;
    const qint64 list = value.toLongLong(&number);
    const bool known = playlists_ && playlists_->catalogue().index_of(list) >= 0;
    if (!number || (list != -1 && !known)) return unknown_playlist(text, "value");
    stored = static_cast<int>(list);
  } else if (key == dayparts::kDays && !text.isEmpty()) {
    const auto days = dayparts::read_days(text.split(QRegularExpression("[ ,]+"), Qt::SkipEmptyParts));
    if (!days) return Outcome::bad("value", QString("\"%1\" is not a set of days of the week.").arg(text));
    stored = *days;
  } else if (!dayparts::is_rule_key(key)) {
    return Outcome::bad("key", QString("A task has no \"%1\".").arg(key));
  }
  // A rule is checked with the task it joins; an empty one is cleared.
  for (int row : rows) {
    Record task = tasks[row];
    task[key] = stored;
    if (stored.toString().isEmpty() && dayparts::is_rule_key(key)) task.remove(key);
    if (const Outcome o = dayparts::check_rules(task, "value"); !o.ok()) return o;
    tasks[row] = task;
  }
  if (const Outcome o = check_compiled_size(tasks, dayparts::fallback_of(schedule_list()->at(index))); !o.ok())
    return o;
  if (is_shown(index)) {
    // In the editor's rows, so that the selection stays on the same tasks.
    {
      Editing editing(editing_);
      for (int row : rows) tasks_.replace(row, tasks[row]);
    }
    task_count_change(key == "date" || key == "time");
    return Outcome::done();
  }
  write_tasks(index, tasks);
  return Outcome::done();
}

Outcome Schedule_View::remove_tasks(qint64 id, QList<int> rows) {
  Outcome refusal;
  auto found = tasks_of(id, refusal);
  if (!found) return refusal;
  auto& [index, tasks] = *found;
  if (const Outcome o = bad_rows(rows, static_cast<int>(tasks.size())); !o.ok()) return o;
  std::sort(rows.begin(), rows.end(), std::greater<>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (is_shown(index)) {
    {
      Editing editing(editing_);
      for (int row : rows) tasks_.remove_at(row);
    }
    task_count_change();
    return Outcome::done();
  }
  for (int row : rows) tasks.removeAt(row);
  write_tasks(index, tasks);
  return Outcome::done();
}

Outcome Schedule_View::set_fallback(qint64 id, qint64 list) {
  if (!schedules_ || !schedule_list()) return Outcome::failed("The schedules are not ready.");
  const int index = schedules_->catalogue().index_of(id);
  if (index < 0) return Outcome::unknown("id", QString("No schedule has the id %1.").arg(id));
  if (list != -1 && !(playlists_ && playlists_->catalogue().index_of(list) >= 0))
    return unknown_playlist(QString::number(list), "fallback");
  Outcome refusal;
  const auto found = tasks_of(id, refusal);
  if (const Outcome o = check_compiled_size(found->second, static_cast<int>(list)); !o.ok()) return o;
  writing_back_ = true;
  schedule_list()->set_value(index, dayparts::kFallback, static_cast<int>(list));
  writing_back_ = false;
  publish_schedule_later(schedule_list()->at(index));
  return Outcome::done();
}

}  // namespace tavri
