#pragma once
#include "players/udp_feedback.h"
#include "tool_window_widget.h"
#include "window_parts.h"

namespace tavri {

class RecordTable;

// The player registry with every command to the selected players.
class PlayersWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  // playlist_name: what the list a player reports by id is shown as
  // (ListShown::text: "Week (schedule)", "Lobby", "7 (unknown)").
  // What else the desk knows of a player: what it shows now ("Lobby ›
  // menu.png, 3 of 7"), its groups, and more actions for the pane.
  struct Extras {
    std::function<QString(const Record& player)> now_playing;
    std::function<QString(const QString& device_id)> groups;
    QList<Action> actions;
  };
  PlayersWindow(UDP_Feedback& feedback, std::function<void()> open_map,
                std::function<QString(const QString& device_id, const QVariant& id)> playlist_name = {},
                std::function<QString(const QString& device_id)> uptime_24h = {}, Extras extras = {},
                QWidget* parent = nullptr);
  RecordTable* table() { return table_; }

 private:
  RecordTable* table_;
};

}  // namespace tavri
