#pragma once
#include "players/udp_feedback.h"
#include "tool_window_widget.h"

namespace tavri {

class RecordTable;

// The player registry with every command to the selected players.
class PlayersWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  PlayersWindow(UDP_Feedback& feedback, std::function<void()> open_map, QWidget* parent = nullptr);
  RecordTable* table() { return table_; }

 private:
  RecordTable* table_;
};

}  // namespace tavri
