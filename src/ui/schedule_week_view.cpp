#include "schedule_week_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTime>
#include <algorithm>

#include "schedules/dayparts.h"
#include "widgets/tavri_defaults.h"

namespace tavri {
namespace {
constexpr int kHeader = 20;       // the day names
constexpr int kHourColumn = 34;   // the hours at the left
constexpr double kSlotHeight = 16;

bool flag(const QVariant& v) { return v.toInt() != 0 || v.toString() == "1"; }
}  // namespace

ScheduleWeekView::ScheduleWeekView(RecordList& tasks, std::function<QString(const QVariant&)> playlist_name,
                                   QWidget* parent)
    : QWidget(parent), tasks_(tasks), playlist_name_(std::move(playlist_name)) {
  setObjectName("schedule_week_view");
  setMinimumHeight(140);
  setToolTip("Each task's playlist at its time, a daypart on its days; tasks at the same time side by side. "
             "Click one to select its task");
  connect(&tasks_, &RecordList::changed, this, qOverload<>(&QWidget::update));
  connect(&tasks_, &RecordList::selection_changed, this, qOverload<>(&QWidget::update));
}

void ScheduleWeekView::set_first_day(QDate day) {
  first_day_ = day;
  update();
}

QRectF ScheduleWeekView::day_column(int day) const {
  const double width = (double(this->width()) - kHourColumn) / 7.0;
  return {kHourColumn + day * width, double(kHeader), width, double(height() - kHeader)};
}

QList<ScheduleWeekView::Slot> ScheduleWeekView::placed() const {
  QList<Slot> out;
  for (int day = 0; day < 7; ++day) {
    const QDate date = first_day_.addDays(day);
    const QRectF column = day_column(day);
    QList<Slot> today;
    for (int i = 0; i < tasks_.size(); ++i) {
      const Record& task = tasks_.at(i);
      const QTime time = QTime::fromString(task.value("time").toString(), "HH:mm");
      if (!time.isValid()) continue;
      // A daypart on its days within its dates; a plain task daily or on its date.
      const bool plays = dayparts::task_has_rules(task)
                             ? dayparts::plays_on(task, date)
                             : flag(task.value("daily")) ||
                                   QDate::fromString(task.value("date").toString(), "yyyy-MM-dd") == date;
      if (!plays) continue;
      const QString end = task.value(dayparts::kEndTime).toString();
      const QString text = time.toString("HH:mm") + (end.isEmpty() ? "" : QString::fromUtf8("–") + end) + " " +
                           playlist_name_(task.value("list"));
      const double y = column.top() + (column.height() - kSlotHeight) * time.msecsSinceStartOfDay() / 86400000.0;
      today.append({i, QRectF(column.left() + 1, y, column.width() - 2, kSlotHeight), text});
    }
    // Tasks that would cover each other stand side by side: each takes the
    // first lane free at its top, and a run of overlapping ones shares the
    // column's width among its lanes.
    std::sort(today.begin(), today.end(), [](const Slot& a, const Slot& b) { return a.rect.top() < b.rect.top(); });
    for (qsizetype start = 0; start < today.size();) {
      QList<double> lane_bottoms;
      QList<int> lanes;
      double run_bottom = today[start].rect.bottom();
      qsizetype end = start;
      for (; end < today.size() && (end == start || today[end].rect.top() < run_bottom); ++end) {
        int lane = 0;
        while (lane < lane_bottoms.size() && lane_bottoms[lane] > today[end].rect.top()) ++lane;
        if (lane == lane_bottoms.size()) lane_bottoms.append(0);
        lane_bottoms[lane] = today[end].rect.bottom();
        lanes.append(lane);
        run_bottom = std::max(run_bottom, today[end].rect.bottom());
      }
      const double width = (column.width() - 2) / double(lane_bottoms.size());
      for (qsizetype k = start; k < end; ++k) {
        QRectF& r = today[k].rect;
        r = QRectF(column.left() + 1 + lanes[int(k - start)] * width, r.top(), width - (lane_bottoms.size() > 1 ? 1 : 0),
                   r.height());
      }
      start = end;
    }
    out += today;
  }
  return out;
}

void ScheduleWeekView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), tavri_defaults::color_tavri_dark_gray());
  p.setFont(QFont(font().family(), 8));
  p.setPen(tavri_defaults::color_tavri_light_gray());
  for (int hour = 0; hour < 24; hour += 6) {
    const QRectF c = day_column(0);
    const double y = c.top() + (c.height() - kSlotHeight) * hour / 24.0;
    p.drawText(QRectF(0, y, kHourColumn - 4, kSlotHeight), Qt::AlignRight | Qt::AlignVCenter, QString("%1:00").arg(hour));
    p.drawLine(QPointF(kHourColumn, y), QPointF(width(), y));
  }
  for (int day = 0; day < 7; ++day) {
    const QRectF c = day_column(day);
    p.setPen(tavri_defaults::color_tavri_gray());
    p.drawLine(c.topLeft(), c.bottomLeft());
    p.setPen(day == 0 ? tavri_defaults::color_tavri_green() : tavri_defaults::color_tavri_text());
    p.drawText(QRectF(c.left(), 0, c.width(), kHeader), Qt::AlignCenter,
               first_day_.addDays(day).toString("ddd d.M."));
  }
  const QList<int> selected = tasks_.selected_list_indices();
  for (const Slot& s : placed()) {
    const Record& task = tasks_.at(s.task);
    const bool active = flag(task.value("active"));
    QColor fill = active ? tavri_defaults::color_tavri_green() : tavri_defaults::color_tavri_light_gray();
    if (!selected.contains(s.task)) fill.setAlpha(150);
    p.fillRect(s.rect, fill);
    if (selected.contains(s.task)) {
      p.setPen(QPen(tavri_defaults::color_tavri_text(), 2));
      p.drawRect(s.rect.adjusted(1, 1, -1, -1));
    }
    p.setPen(tavri_defaults::color_tavri_text_on_select());
    // Too narrow for its time: its row says it, the playlist's name is what matters.
    const int room = int(s.rect.width()) - 5;
    const QString text = p.fontMetrics().horizontalAdvance(s.text) > room ? s.text.section(' ', 1) : s.text;
    p.drawText(s.rect.adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
               p.fontMetrics().elidedText(text, Qt::ElideRight, room));
  }
}

void ScheduleWeekView::mousePressEvent(QMouseEvent* event) {
  // The topmost slot under the pointer: the last drawn.
  const QList<Slot> all = placed();
  for (auto it = all.crbegin(); it != all.crend(); ++it)
    if (it->rect.contains(event->position())) {
      tasks_.select_list_indices({it->task});
      return;
    }
}

}  // namespace tavri
