#pragma once
#include "players/udp_feedback.h"
#include "tool_window_widget.h"

namespace tavri {

class RecordTable;

// The player registry with every command to the selected players.
class PlayersWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  // playlist_name: what the list a player reports by id is shown as
  // (ListShown::text: "Week (schedule)", "Lobby", "7 (unknown)").
  PlayersWindow(UDP_Feedback& feedback, std::function<void()> open_map,
                std::function<QString(const QString& device_id, const QVariant& id)> playlist_name = {},
                std::function<QString(const QString& device_id)> uptime_24h = {}, QWidget* parent = nullptr);
  RecordTable* table() { return table_; }

 private:
  RecordTable* table_;
};

}  // namespace tavri
