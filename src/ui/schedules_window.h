#pragma once
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"
#include "tool_window_widget.h"

namespace tavri {

class ScheduleWeekView;

class RecordTable;

// The schedule catalogue beside the selected schedule's tasks.
class SchedulesWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  SchedulesWindow(Schedule& schedules, Schedule_View& tasks, Bus& bus, Dialogs& dialogs, QWidget* parent = nullptr);
  RecordTable* task_table() { return task_table_; }
  ScheduleWeekView* week() { return week_; }

 private:
  RecordTable* schedule_table_;
  RecordTable* task_table_;
  ScheduleWeekView* week_ = nullptr;
};

}  // namespace tavri
