#pragma once
#include <QDate>
#include <QWidget>
#include <functional>

#include "core/record_list.h"

namespace tavri {

// The shown schedule's week at a glance: a column per day from any first
// day (today unless moved), each task's playlist at its time (a daily task
// on every day, a dated one on its date, a daypart on its days within its
// dates). A click on a task selects it in the task table.
class ScheduleWeekView : public QWidget {
 public:
  // `playlist_name`: what a task's "list" value reads as.
  ScheduleWeekView(RecordList& tasks, std::function<QString(const QVariant&)> playlist_name, QWidget* parent = nullptr);

  struct Slot {
    int task = -1;  // list index in the tasks
    QRectF rect;
    QString text;
  };
  // Where each task is drawn now; the week starts on `first_day`.
  QList<Slot> placed() const;
  void set_first_day(QDate day);
  QDate first_day() const { return first_day_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QRectF day_column(int day) const;
  RecordList& tasks_;
  std::function<QString(const QVariant&)> playlist_name_;
  QDate first_day_ = QDate::currentDate();
};

}  // namespace tavri
