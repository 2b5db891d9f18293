#include "schedules_window.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QToolButton>
#include <QToolTip>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "record_table.h"
#include "schedule_week_view.h"
#include "schedules/dayparts.h"
#include "widgets/tavri_splitt_view.h"
#include "window_parts.h"

namespace tavri {
namespace {

// The playlist column: a choice among the playlists, stored as an id.
class PlaylistChoiceDelegate : public QStyledItemDelegate {
 public:
  PlaylistChoiceDelegate(Bus& bus, QObject* parent) : QStyledItemDelegate(parent), choices_(bus), names_(bus) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
    auto* combo = new QComboBox(parent);
    combo->addItems(choices_.transformedValue());
    return combo;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    static_cast<QComboBox*>(editor)->setCurrentText(index.data(Qt::DisplayRole).toString());
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    model->setData(index, names_.reverseTransformedValue(static_cast<QComboBox*>(editor)->currentText()));
  }

 private:
  Schedule_Play_list_Array choices_;
  Schedule_Play_list_name names_;
};

// What plays outside the shown schedule's dayparts: a playlist, or none.
void choose_fallback(Schedule_View& tasks, Bus& bus, Dialogs& dialogs) {
  if (!tasks.shown_schedule_id().isValid()) return;
  const QStringList choices = Schedule_Play_list_Array(bus).transformedValue();
  const auto chosen = dialogs.choose("Outside its dayparts the schedule plays:",
                                     "A daypart's end time hands over to it; \"---\" plays on.", choices, 0);
  if (!chosen) return;
  const int list = Schedule_Play_list_name(bus).reverseTransformedValue(choices.value(*chosen));
  if (const Outcome o = tasks.set_fallback(tasks.shown_schedule_id().toLongLong(), list); !o.ok())
    dialogs.alert(o.message, o.detail, {"OK"});
}

}  // namespace

SchedulesWindow::SchedulesWindow(Schedule& schedules, Schedule_View& tasks, Bus& bus, Dialogs& dialogs, QWidget* parent)
    : ToolWindowWidget("WINDOW_SCHEDULE", "Schedules", parent) {
  auto* split = new tavri_splitt_view(Qt::Horizontal, this);

  const Column schedule_name =
      name_column("Schedule", schedules.ArrayController_SCHEDULELIST(),
                  [&schedules](qint64 id, const QString& n) { return schedules.rename(id, n); }, schedule_table_);
  QWidget* left = table_pane(
      split, "Schedules",
      [&](QWidget* pane) {
        return schedule_table_ = new RecordTable(
                   "TableView_SCHEDULELIST", schedules.ArrayController_SCHEDULELIST(),
                   {Column{"id", "Id", 40}, schedule_name, Column{"tasks", "Tasks", 50}}, pane);
      },
      {{"add_new_schedule", "new", [&] { schedules.add_new_playlist(); }},
       {"copy_schedule", "copy",
        [&] {
          schedules.copy_playlist();
          edit_selected(schedule_table_, 1);  // a copy keeps its source's name until retyped
        }},
       {"rename_schedule", "rename", [&] { schedules.changeName(); }},
       {"delete_schedule", "delete", [&] { schedules.delete_line(); }}});

  RecordList& list = tasks.ArrayController_SCHEDULE_VIEW();
  auto flag = [&list](const char* key, const char* title, const char* meaning) {
    Column c{key, title, 60};
    c.checkbox = true;
    c.header_tooltip = meaning;
    c.edit = [&list, key = QString(key)](int i, const QVariant& v) { list.set_value(i, key, v.toInt()); };
    return c;
  };
  // A rule edit goes through the editor's checks; a refusal is shown at the table.
  auto set_rule = [&tasks, this](int i, const char* key, const QVariant& value) {
    const Outcome o = tasks.set_task_value(tasks.shown_schedule_id().toLongLong(), {i}, key, value);
    if (!o.ok()) QToolTip::showText(task_table_->mapToGlobal(QPoint(0, 0)), o.message, task_table_);
  };
  // The days of the week as toggles: none ticked is every day.
  auto day = [&list, set_rule](int d) {
    static const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    Column c{dayparts::kDays, QString(kDays[d]).left(2), 30};
    c.checkbox = true;
    c.header_tooltip = "The days of the week a daypart plays on; with days, dates or an end time the task is "
                       "compiled into dated tasks for the players, and its own date and Daily no longer count";
    c.checked = [d](const Record& r) { return dayparts::day_names(r.value(dayparts::kDays).toString()).contains(kDays[d]); };
    c.edit = [&list, set_rule, d](int i, const QVariant& v) {
      QStringList days = dayparts::day_names(list.at(i).value(dayparts::kDays).toString());
      days.removeAll(kDays[d]);
      if (v.toInt()) days << kDays[d];
      set_rule(i, dayparts::kDays, days.isEmpty() ? QString() : *dayparts::read_days(days));
    };
    return c;
  };
  auto rule = [set_rule](const char* key, const char* title, int width, const char* meaning) {
    Column c{key, title, width};
    c.header_tooltip = meaning;
    c.edit = [set_rule, key](int i, const QVariant& v) { set_rule(i, key, v.toString().trimmed()); };
    return c;
  };
  auto names = std::make_shared<Schedule_Play_list_name>(bus);
  Column playlist{"list", "Playlist", 170};
  playlist.display = [names](const Record& r) { return names->transformedValue(r.value("list")); };
  playlist.edit = [&list](int i, const QVariant& v) { list.set_value(i, "list", v.toInt()); };
  QWidget* right = table_pane(
      split, "Tasks",
      [&](QWidget* pane) {
        task_table_ = new RecordTable("TableView_SCHEDULE_VIEW", list,
                                      {Column{"name", "Task", 140}, Column{"date", "Date", 90},
                                       Column{"time", "Time", 55},
                                       flag("daily", "Daily",
                                            "Ticked: the task is for every day at its time; unticked: for its date "
                                            "only (the players read this flag)"),
                                       flag("cut", "Cut",
                                            "Handed to the players as it is: ticked asks them to cut off what plays "
                                            "when the task starts"),
                                       flag("active", "Active",
                                            "Ticked: the players get the task with its playlist's items; unticked: "
                                            "it is kept here without them"),
                                       playlist, rule(dayparts::kEndTime, "Ends", 50,
                                                      "HH:mm: the fallback playlist follows at this time"),
                                       day(0), day(1), day(2), day(3), day(4), day(5), day(6),
                                       rule(dayparts::kFirstDate, "From", 85, "yyyy-MM-dd: the first day it plays"),
                                       rule(dayparts::kLastDate, "Until", 85, "yyyy-MM-dd: the last day it plays")},
                                      pane);
        task_table_->setItemDelegateForColumn(6, new PlaylistChoiceDelegate(bus, task_table_));
        return task_table_;
      },
      {{"send_schedule", "send", [&] { tasks.send_to_device(); }, "Icon_send"},
       {"add_line", "add task", [&] { tasks.add_line(); }},
       {"change_date", "date", [&] { tasks.change_date(); }},
       {"change_time", "time", [&] { tasks.change_time(); }},
       {"rename_line", "rename", [&] { tasks.rename_line(); }},
       {"copy_line", "copy", [&] { tasks.copy_line(); }},
       {"delete_line", "delete", [&] { tasks.delete_line(); }},
       {"create_schedule_from_content", "from content", [&] { tasks.create_schedule_from_content(); }},
       {"choose_fallback", "fallback", [&tasks, &bus, &dialogs] { choose_fallback(tasks, bus, dialogs); }}});

  // Content dropped on the tasks becomes tasks of the shown schedule.
  task_table_->set_drop([](const QMimeData& data) { return data.hasFormat(kContentRowsMime); },
                        [&tasks](const QMimeData& data, int) {
                          tasks.add_content_tasks(RecordTable::dragged_rows(data, kContentRowsMime));
                        });

  // Beside the table, which playlist plays when.
  auto* tasks_and_week = new QSplitter(Qt::Vertical, split);
  tasks_and_week->addWidget(right);
  auto* week_pane = new QWidget(tasks_and_week);
  auto* week_layout = new QVBoxLayout(week_pane);
  week_layout->setContentsMargins(0, 0, 0, 0);
  week_ = new ScheduleWeekView(list, [names](const QVariant& l) { return names->transformedValue(l); }, week_pane);
  // Any week: a week back, a week on, or from today again.
  auto* weeks = new QHBoxLayout;
  for (const auto& [name, text, days] : {std::tuple{"week_back", "◀", -7}, {"week_today", "today", 0},
                                          std::tuple{"week_next", "▶", 7}}) {
    auto* b = new QToolButton(week_pane);
    b->setObjectName(name);
    b->setText(QString::fromUtf8(text));
    connect(b, &QToolButton::clicked, week_, [this, days = days] {
      week_->set_first_day(days ? week_->first_day().addDays(days) : QDate::currentDate());
    });
    weeks->addWidget(b);
  }
  weeks->addStretch(1);
  week_layout->addLayout(weeks);
  week_layout->addWidget(week_, 1);
  tasks_and_week->addWidget(week_pane);
  tasks_and_week->setStretchFactor(0, 3);
  tasks_and_week->setStretchFactor(1, 2);
  split->addWidget(left);
  split->addWidget(tasks_and_week);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split);
  resize(1080, 420);
}

}  // namespace tavri
