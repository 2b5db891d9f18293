#include "history_window.h"

#include <QDateTime>
#include <QHeaderView>
#include <QPainter>
#include <QVBoxLayout>

#include "widgets/tavri_defaults.h"
#include "widgets/tavri_text.h"

namespace tavri {
namespace {
constexpr qint64 kDayMs = 24ll * 3600 * 1000;
constexpr int kRowHeight = 14, kLabelWidth = 70;
constexpr qint64 kRefreshMs = 5000;

QString event_text(const QString& kind) {
  if (kind == "first_seen") return "first seen";
  if (kind == "list") return "new list";
  if (kind == "command") return "command sent";
  if (kind == "command_confirmed") return "command confirmed";
  if (kind == "command_failed") return "command failed";
  return kind;
}
}  // namespace

TimelineStrip::TimelineStrip(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(7 * kRowHeight + 4);
  setToolTip("The last seven days: online in green, offline in grey, errors in red");
}

void TimelineStrip::set_days(std::vector<Day> days) {
  days_ = std::move(days);
  setMinimumHeight(int(days_.size()) * kRowHeight + 4);
  update();
}

void TimelineStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int width = std::max(10, this->width() - kLabelWidth - 4);
  p.setFont(tavri_defaults::font(tavri_defaults::fontname_normal(), 8));
  for (std::size_t i = 0; i < days_.size(); ++i) {
    const int y = int(i) * kRowHeight + 2;
    p.setPen(tavri_defaults::color_tavri_text());
    p.drawText(QRect(0, y, kLabelWidth - 4, kRowHeight), Qt::AlignRight | Qt::AlignVCenter, days_[i].label);
    const QRect bar(kLabelWidth, y + 2, width, kRowHeight - 4);
    p.fillRect(bar, tavri_defaults::color_tavri_light_gray());
    auto paint = [&](const std::vector<std::pair<double, double>>& spans, const QColor& colour) {
      for (const auto& [a, b] : spans)
        p.fillRect(QRectF(bar.left() + a * bar.width(), bar.top(), std::max(1.0, (b - a) * bar.width()), bar.height()),
                   colour);
    };
    paint(days_[i].online, QColor(60, 170, 60));
    paint(days_[i].errors, QColor(210, 40, 40));
  }
}

HistoryWindow::HistoryWindow(UDP_Feedback& players, history::HistoryService& history, QWidget* parent)
    : ToolWindowWidget("WINDOW_HISTORY", "History", parent), players_(players), history_(history) {
  auto* layout = new QVBoxLayout(this);
  title_ = new tavri_title_text("History", this);
  summary_ = new QLabel(this);
  summary_->setObjectName("history_summary");
  summary_->setStyleSheet(QString("color: %1;").arg(tavri_defaults::color_tavri_text().name()));
  timeline_ = new TimelineStrip(this);
  events_ = new QTableWidget(0, 3, this);
  events_->setObjectName("history_events");
  events_->setHorizontalHeaderLabels({"TIME", "EVENT", "DETAIL"});
  events_->horizontalHeader()->setStretchLastSection(true);
  events_->verticalHeader()->hide();
  events_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  events_->setColumnWidth(0, 150);
  events_->setColumnWidth(1, 110);
  events_->setStyleSheet(QString("QTableWidget { background: %1; color: %2; } QHeaderView::section { background: %3; "
                                 "color: %4; font-weight: bold; border: none; }")
                             .arg(tavri_defaults::color_tavri_dark_gray().name(), tavri_defaults::color_tavri_text().name(),
                                  tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_green().name()));
  layout->addWidget(title_);
  layout->addWidget(summary_);
  layout->addWidget(timeline_);
  layout->addWidget(events_, 1);
  connect(&players_.ArrayController_DEVICES(), &RecordList::selection_changed, this, &HistoryWindow::show_selected);
  // New events show while the pane is in sight, every few seconds: the
  // queries stay off the main thread's every second, and a hidden pane costs nothing.
  since_shown_.start();
  connect(&history_, &history::HistoryService::recorded, this, [this] {
    if (is_visible() && since_shown_.elapsed() >= kRefreshMs) show_selected();
  });
  show_selected();
}

void HistoryWindow::show_selected() {
  since_shown_.restart();
  const RecordArray selected = players_.ArrayController_DEVICES().selected_records();
  history::HistoryStore* store = history_.store();
  if (selected.isEmpty() || !store) {
    title_->setText("History");
    summary_->setText(store ? "Select a player to see its history." : "No history is recorded (see the console).");
    timeline_->set_days({});
    events_->setRowCount(0);
    return;
  }
  const Record& player = selected.first();
  const QString id = player.value("device_id").toString();
  title_->setText("History of " + player.value("device_name").toString());
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  const bool online = history_.is_online(id);
  auto share = [&](qint64 window) {
    const auto u = store->uptimes(now - window, now, online ? QSet<QString>{id} : QSet<QString>{});
    return u.contains(id) ? QString::number(u.value(id) * 100.0, 'f', 1) + " %" : QString("unknown");
  };
  summary_->setText(QString("Uptime 24 h: %1   ·   7 days: %2").arg(share(kDayMs), share(7 * kDayMs)));

  // One row per day, today last; the errors from the events' error marks
  // until the next change of state.
  const QDateTime today(QDate::currentDate(), QTime(0, 0));
  const auto events = store->events(id, today.addDays(-6).toMSecsSinceEpoch(), now, 5000);
  std::vector<TimelineStrip::Day> days;
  for (int d = 6; d >= 0; --d) {
    const qint64 start = today.addDays(-d).toMSecsSinceEpoch(), end = start + kDayMs;
    TimelineStrip::Day day;
    day.label = today.addDays(-d).toString("ddd dd");
    for (const auto& [a, b] : store->online_spans(id, start, std::min(end, now), online && d == 0))
      day.online.emplace_back(double(a - start) / kDayMs, double(b - start) / kDayMs);
    for (const auto& e : events)
      if (e.kind == "error" && e.time_ms >= start && e.time_ms < end) {
        const double at = double(e.time_ms - start) / kDayMs;
        day.errors.emplace_back(at, at + 0.004);
      }
    days.push_back(day);
  }
  timeline_->set_days(days);

  const int rows = std::min<int>(200, int(events.size()));
  events_->setRowCount(rows);
  for (int i = 0; i < rows; ++i) {
    const auto& e = events[std::size_t(i)];  // newest first
    events_->setItem(i, 0, new QTableWidgetItem(QDateTime::fromMSecsSinceEpoch(e.time_ms).toString("yyyy-MM-dd HH:mm:ss")));
    events_->setItem(i, 1, new QTableWidgetItem(event_text(e.kind)));
    // A command is stored as "CODE name": the operator reads the name, as the status line writes it.
    bool coded = false;
    e.detail.section(' ', 0, 0).toInt(&coded);
    const bool command = e.kind.startsWith("command") && coded;
    events_->setItem(i, 2, new QTableWidgetItem(command ? e.detail.section(' ', 1).toUpper() : e.detail.left(200)));
  }
}

}  // namespace tavri
