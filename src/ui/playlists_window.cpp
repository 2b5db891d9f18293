#include "playlists_window.h"

#include <QVBoxLayout>

#include "content/content_item.h"
#include "record_table.h"
#include "widgets/tavri_splitt_view.h"
#include "widgets/tavri_text.h"
#include "window_parts.h"

namespace tavri {

PlaylistsWindow::PlaylistsWindow(PlayList& playlists, display_playlist& editor, QWidget* parent)
    : ToolWindowWidget("WINDOW_PLAYLISTS", "Playlists", parent) {
  auto* split = new tavri_splitt_view(Qt::Horizontal, this);

  auto* left = new QWidget(split);
  auto* left_layout = new QVBoxLayout(left);
  left_layout->setContentsMargins(0, 0, 0, 0);
  Column name{"name", "Playlist", 160};
  name.sortable = false;
  playlist_table_ = new RecordTable("TableView_PLAYLIST", playlists.ArrayController_PLAYLIST(),
                                    {Column{"id", "Id", 40}, name, Column{"movies", "Items", 50}}, left);
  left_layout->addWidget(new tavri_title_text("Playlists", left));
  left_layout->addWidget(playlist_table_, 1);
  left_layout->addWidget(button_panel(left, {{"add_new_playlist", "new", [&] { playlists.add_new_playlist(); }},
                                             {"copy_playlist", "copy", [&] { playlists.copy_playlist(); }},
                                             {"changeName", "rename", [&] { playlists.changeName(); }},
                                             {"remove_playlist", "remove", [&] { playlists.remove_selected(); }}},
                                      2));

  auto* right = new QWidget(split);
  auto* right_layout = new QVBoxLayout(right);
  right_layout->setContentsMargins(0, 0, 0, 0);
  Column icon{"file_icon", "", 50};
  icon.display = [](const Record&) { return QVariant(); };
  icon.decoration = [](const Record& r) { return r.value("file_icon"); };
  Column file{"file_name", "Item", 180};
  file.foreground = [](const Record& r) { return found_to_color(r.value("file_found")); };
  Column length{"file_length", "Length", 80};
  length.display = [](const Record& r) { return length_in_timecode(r.value("file_length")); };
  item_table_ = new RecordTable("TableView_DISPLAYLIST", editor.ArrayController_DISPLAYLIST(),
                                {icon, file, length, Column{"file_kind", "Kind", 120}}, right);
  right_layout->addWidget(new tavri_title_text("Items", right));
  right_layout->addWidget(item_table_, 1);
  right_layout->addWidget(button_panel(
      right, {{"ADD_FILE_TO_LIST", "add content", [&] { editor.ADD_FILE_TO_LIST(); }},
              {"PLAYLIST_CREATOR", "new from content", [&] { editor.PLAYLIST_CREATOR(); }},
              {"PLAYLIST_CREATOR_SEP", "one per file", [&] { editor.PLAYLIST_CREATOR_SEP(); }},
              {"REPLACE_FILE", "replace", [&] { editor.REPLACE_FILE(); }},
              {"DELETE_MOVIE", "delete", [&] { editor.DELETE_MOVIE(); }},
              {"MOVE_UP", "up", [&] { editor.MOVE_UP(); }},
              {"MOVE_DOWN", "down", [&] { editor.MOVE_DOWN(); }},
              {"changeImg_length", "length", [&] { editor.changeImg_length(); }},
              {"send_to_device", "send", [&] { editor.send_to_device(); }, "Icon_send"}}));

  split->addWidget(left);
  split->addWidget(right);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split);
  resize(900, 420);
}

}  // namespace tavri
