#pragma once
#include <optional>
#include <utility>
#include <QDate>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include "core/bus.h"
#include "core/dialogs.h"
#include "core/outcome.h"
#include "core/record_list.h"
#include "playlists/playlist_users.h"

namespace tavri {

class PlayList;
class Schedule;

// The editor of the selected schedule's tasks: keeps them in order,
// publishes the schedule file with the active tasks' playlists embedded,
// and republishes everything on the save-all request.
class Schedule_View : public QObject, public PlaylistUsers {
  Q_OBJECT
 public:
  Schedule_View(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);
  ~Schedule_View() override { bus_.unregister(this); }
  void attach(Schedule* schedules, PlayList* playlists, RecordList* content);

  RecordList& ArrayController_SCHEDULE_VIEW() { return tasks_; }
  QUrl folder_url() const { return folder_url_; }
  // The id of the schedule whose tasks the editor shows; invalid for none.
  QVariant shown_schedule_id() const { return shown_schedule_id_; }

  void get_folder_url(const QVariant& url);
  void tableViewSelectionDidChange();
  void resort_table();
  void task_count_change(bool resort = true);
  void save_schedule(bool send);
  void add_line();
  void copy_line();
  void rename_line();
  void change_date();
  void change_time();
  void delete_line();
  void send_to_device();
  void create_schedule_from_content();
  void create_schedule_from_tool_with_name(const QString& name);
  // Content dropped on the tasks: a playlist and a task for each file, in
  // the shown schedule, as "from content" makes them. False without one.
  bool add_content_tasks(const QList<int>& content_indices);
  void save_all();
  // Writes every playlist and schedule file that is missing or differs from
  // its record (in the background); files that are right are left untouched.
  void publish_stale_files();
  void queue_stale_check();  // publish_stale_files once, on the next turn

  QStringList schedules_using(const QSet<int>& ids) const override;
  void forget_playlists(const QSet<int>& ids) override;
  QVariant uses_snapshot() const override;
  void restore_uses(const QVariant& snapshot) override;
  void put_back_tasks(const QVariant& schedule_id, const std::vector<std::pair<int, Record>>& removed);

  // A new task with the defaults; date today.
  static Record new_task(const QString& name, int list = -1);

  // A task as an operation names it.
  struct TaskSpec {
    QString name;
    QString date;  // yyyy-MM-dd
    QString time;  // HH:mm
    bool daily = true, cut = false, active = true;
    qint64 list = -1;  // a playlist's id; -1: none yet
    // The rules (dayparts.h), empty when not set.
    QString days, first_date, last_date, end_time;
  };
  // Schedule `id` gets these tasks (and this fallback playlist, -1 for
  // none, when given) and is published at once. Nothing changes when a
  // name, date, time, rule or playlist does not fit.
  Outcome set_tasks(qint64 id, const QList<TaskSpec>& tasks, std::optional<qint64> fallback = std::nullopt);
  // The task edits by schedule id and task index, which the buttons call
  // with the selection; the schedule is published at once, and nothing
  // changes when an index or a value does not fit. `key`: "name", "date"
  // (yyyy-MM-dd), "time" (HH:mm), "daily", "cut", "active", "list" (a
  // playlist's id, -1 for none), or a rule: "days", "first_date",
  // "last_date", "end_time" (empty to clear).
  Outcome set_task_value(qint64 id, const QList<int>& rows, const QString& key, const QVariant& value);
  Outcome remove_tasks(qint64 id, QList<int> rows);
  Outcome set_fallback(qint64 id, qint64 list);
  // Republishes what changes with the day: compiled horizons and items out
  // of their dates. Runs after each local midnight.
  void new_day();

 private:
  // Edits of the shown tasks that publish once, at their end.
  struct Editing {
    explicit Editing(int& depth) : depth_(depth) { ++depth_; }
    ~Editing() { --depth_; }
    int& depth_;
  };
  // The schedule's list index and tasks, or the refusal; the shown one's
  // as the editor holds them.
  std::optional<std::pair<int, RecordArray>> tasks_of(qint64 id, Outcome& refusal) const;
  // Whether the editor shows the schedule at this list index.
  bool is_shown(int index) const;
  // A schedule the editor does not show gets these tasks, and is published.
  void write_tasks(int index, const RecordArray& tasks);
  void write_tasklist(int index, const QVariantList& tasks, int selected);
  int selected_schedule() const;  // list index, or -1
  RecordList* schedule_list() const;
  RecordList* playlist_list() const;
  // The task list is the selected schedule's "tasklist": every edit here is
  // written straight back into the record.
  void write_back();
  void change_selected(const QString& key, const QString& format, bool date);
  // The schedule as published: active tasks carry their playlist's items.
 public:
  static Record published_schedule(const Record& schedule, const RecordArray& playlists, const QDate& today);
  // Publishes the schedule; the published record, as sent to players.
 private:
  Record publish_schedule(const Record& schedule);
  void publish_schedule_later(const Record& schedule);
  void arm_day_timer();
  void playlist_published(int id);

  Bus& bus_;
  Dialogs& dialogs_;
  Schedule* schedules_ = nullptr;
  PlayList* playlists_ = nullptr;
  RecordList* content_ = nullptr;
  RecordList tasks_;
  QUrl folder_url_;
  bool writing_back_ = false;
  int editing_ = 0;
  bool stale_check_queued_ = false;
  QTimer day_timer_;
  QVariant shown_schedule_id_;  // whose tasks are shown
};

// The task table's playlist column.
class Schedule_Play_list_Array {
 public:
  explicit Schedule_Play_list_Array(Bus& bus) : bus_(bus) {}
  QStringList transformedValue(const QVariant& ignored = {}) const;

 private:
  Bus& bus_;
};

class Schedule_Play_list_name {
 public:
  explicit Schedule_Play_list_name(Bus& bus) : bus_(bus) {}
  QString transformedValue(const QVariant& list) const;
  int reverseTransformedValue(const QVariant& choice) const;

 private:
  Bus& bus_;
};

}  // namespace tavri
