#pragma once
#include <QElapsedTimer>
#include <QLabel>
#include <QTableWidget>

#include "history/history_service.h"
#include "players/udp_feedback.h"
#include "tool_window_widget.h"

namespace tavri {

// Seven days of one player, a row per day: online in green, offline in
// grey, errors in red.
class TimelineStrip : public QWidget {
 public:
  explicit TimelineStrip(QWidget* parent = nullptr);
  struct Day {
    QString label;
    std::vector<std::pair<double, double>> online, errors;  // shares of the day, 0 to 1
  };
  void set_days(std::vector<Day> days);
  const std::vector<Day>& days() const { return days_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::vector<Day> days_;
};

// The history of the player selected in the players table: its uptime, a
// timeline of the last seven days and its recent events, newest first.
class HistoryWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  HistoryWindow(UDP_Feedback& players, history::HistoryService& history, QWidget* parent = nullptr);
  void show_selected();
  QString summary_text() const { return summary_->text(); }
  QTableWidget* events() { return events_; }
  TimelineStrip* timeline() { return timeline_; }

 private:
  UDP_Feedback& players_;
  history::HistoryService& history_;
  QLabel* title_;
  QLabel* summary_;
  TimelineStrip* timeline_;
  QTableWidget* events_;
  QElapsedTimer since_shown_;
};

}  // namespace tavri
