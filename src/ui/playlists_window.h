#pragma once
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "tool_window_widget.h"
#include "window_parts.h"

namespace tavri {

class RecordTable;

// The playlist catalogue beside the selected playlist's items.
class PlaylistsWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  // `more`: further actions of the items pane (beside SEND).
  PlaylistsWindow(PlayList& playlists, display_playlist& editor, QList<Action> more = {}, QWidget* parent = nullptr);
  RecordTable* playlist_table() { return playlist_table_; }
  RecordTable* item_table() { return item_table_; }

 private:
  RecordTable* playlist_table_;
  RecordTable* item_table_;
};

}  // namespace tavri
