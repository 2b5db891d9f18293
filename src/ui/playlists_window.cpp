#include "playlists_window.h"
#include "display_colors.h"

#include <QVBoxLayout>

#include "content/content_item.h"
#include "record_table.h"
#include "widgets/tavri_splitt_view.h"
#include "window_parts.h"

namespace tavri {

PlaylistsWindow::PlaylistsWindow(PlayList& playlists, display_playlist& editor, QWidget* parent)
    : ToolWindowWidget("WINDOW_PLAYLISTS", "Playlists", parent) {
  auto* split = new tavri_splitt_view(Qt::Horizontal, this);

  // The name is edited in place too (F2 asks in a dialog): a copy opens
  // its name for editing at once, and Escape keeps its source's name.
  const Column name = name_column("Playlist", playlists.ArrayController_PLAYLIST(),
                                  [&playlists](qint64 id, const QString& n) { return playlists.rename(id, n); },
                                  playlist_table_);
  QWidget* left = table_pane(
      split, "Playlists",
      [&](QWidget* pane) {
        return playlist_table_ = new RecordTable("TableView_PLAYLIST", playlists.ArrayController_PLAYLIST(),
                                                 {Column{"id", "Id", 40}, name, Column{"movies", "Items", 50}}, pane);
      },
      {{"add_new_playlist", "new", [&] { playlists.add_new_playlist(); }},
       {"copy_playlist", "copy",
        [&] {
          playlists.copy_playlist();
          edit_selected(playlist_table_, 1);
        }},
       {"changeName", "rename", [&] { playlists.changeName(); }},
       {"remove_playlist", "remove", [&] { playlists.remove_selected(); }}});

  Column file{"file_name", "Item", 180};
  file.foreground = [](const Record& r) { return found_to_color(r.value("file_found")); };
  QWidget* right = table_pane(
      split, "Items",
      [&](QWidget* pane) {
        return item_table_ = new RecordTable("TableView_DISPLAYLIST", editor.ArrayController_DISPLAYLIST(),
                                             {thumbnail_column(), file, length_column(), Column{"file_kind", "Kind", 120}},
                                             pane);
      },
      // The most used first: what does not fit is under the MORE button.
      {{"send_to_device", "send", [&] { editor.send_to_device(); }, "Icon_send"},
       {"ADD_FILE_TO_LIST", "add content", [&] { editor.ADD_FILE_TO_LIST(); }},
       {"DELETE_MOVIE", "delete", [&] { editor.DELETE_MOVIE(); }},
       {"MOVE_UP", "up", [&] { editor.MOVE_UP(); }},
       {"MOVE_DOWN", "down", [&] { editor.MOVE_DOWN(); }},
       {"changeImg_length", "length", [&] { editor.changeImg_length(); }},
       {"UNDO_DELETE", "undo delete", [&] { editor.UNDO_DELETE(); }},
       {"REPLACE_FILE", "replace", [&] { editor.REPLACE_FILE(); }},
       {"PLAYLIST_CREATOR", "new from content", [&] { editor.PLAYLIST_CREATOR(); }},
       {"PLAYLIST_CREATOR_SEP", "one per file", [&] { editor.PLAYLIST_CREATOR_SEP(); }}});

  // Content dropped on the items goes in where it is dropped; items dragged
  // within the list move.
  item_table_->set_drag_rows(kItemRowsMime);
  RecordList& items = editor.ArrayController_DISPLAYLIST();
  item_table_->set_drop(
      [](const QMimeData& data) { return data.hasFormat(kContentRowsMime) || data.hasFormat(kItemRowsMime); },
      [&editor, &items](const QMimeData& data, int row) {
        const int at = row < items.size() ? items.list_index_of_row(row) : items.size();
        if (data.hasFormat(kContentRowsMime)) {
          editor.insert_content(RecordTable::dragged_rows(data, kContentRowsMime), at);
        } else if (const QList<int> moved = RecordTable::dragged_rows(data, kItemRowsMime); !moved.isEmpty()) {
          editor.move_item(moved.first(), at);
        }
      });

  split->addWidget(left);
  split->addWidget(right);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split);
  resize(900, 420);
}

}  // namespace tavri
