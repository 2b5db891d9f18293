#include "playlists_window.h"
#include "display_colors.h"

#include <QToolTip>
#include <QVBoxLayout>

#include "content/content_item.h"
#include "core/local_day.h"
#include "core/movielist.h"
#include "record_table.h"
#include "widgets/tavri_splitt_view.h"
#include "widgets/tavri_text.h"
#include "window_parts.h"

namespace tavri {

PlaylistsWindow::PlaylistsWindow(PlayList& playlists, display_playlist& editor, QList<Action> more, QWidget* parent)
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
  file.foreground = [](const Record& r) {
    return plays_on(r, local_today()) ? found_to_color(r.value("file_found")) : QVariant(QColor(Qt::gray));
  };
  // An item out of its dates is greyed and says why it is not playing.
  file.tooltip = [](const Record& r) {
    const QString why = why_not_playing(r, local_today());
    return why.isEmpty() ? r.value("file_name") : QVariant(QString("Not playing now: %1").arg(why));
  };
  // Its first and last date, edited in place; a refusal shows at the table.
  auto item_date = [&editor, this](const char* key, const char* title) {
    Column c{key, title, 85};
    c.header_tooltip = "yyyy-MM-dd: outside its dates the item is left out of what the players get";
    c.edit = [&editor, this, key](int i, const QVariant& v) {
      const Outcome o = editor.set_item_date(editor.shown_playlist_id(), i, key, v.toString().trimmed());
      if (!o.ok()) QToolTip::showText(item_table_->mapToGlobal(QPoint(0, 0)), o.message, item_table_);
    };
    return c;
  };
  QWidget* right = table_pane(
      split, "Items",
      [&](QWidget* pane) {
        return item_table_ = new RecordTable("TableView_DISPLAYLIST", editor.ArrayController_DISPLAYLIST(),
                                             {thumbnail_column(), file, length_column(), Column{"file_kind", "Kind", 120},
                                              item_date(kItemFirstDate, "From"), item_date(kItemLastDate, "Until")},
                                             pane);
      },
      // The most used first: what does not fit is under the MORE button.
      QList<Action>{{"send_to_device", "send", [&] { editor.send_to_device(); }, "Icon_send"}} + more +
      QList<Action>{{"ADD_FILE_TO_LIST", "add content", [&] { editor.ADD_FILE_TO_LIST(); }},
       {"DELETE_MOVIE", "delete", [&] { editor.DELETE_MOVIE(); }},
       {"MOVE_UP", "up", [&] { editor.MOVE_UP(); }},
       {"MOVE_DOWN", "down", [&] { editor.MOVE_DOWN(); }},
       {"changeImg_length", "length", [&] { editor.changeImg_length(); }},
       {"UNDO_DELETE", "undo delete", [&] { editor.UNDO_DELETE(); }},
       {"REPLACE_FILE", "replace", [&] { editor.REPLACE_FILE(); }},
       {"PLAYLIST_CREATOR", "new from content", [&] { editor.PLAYLIST_CREATOR(); }},
       {"PLAYLIST_CREATOR_SEP", "one per file", [&] { editor.PLAYLIST_CREATOR_SEP(); }}});

  // "ITEMS: 4, 00:02:05": how many and how long the shown playlist plays.
  if (auto* heading = right->findChild<tavri_title_text*>()) {
    RecordList& shown = editor.ArrayController_DISPLAYLIST();
    const auto count = [heading, &shown] {
      double seconds = 0;
      for (int i = 0; i < shown.size(); ++i) seconds += std::max(0.0, shown.at(i).value("file_length").toDouble());
      heading->set_text(shown.size() == 0 ? QString("Items")
                                          : QString("Items: %1, %2").arg(shown.size()).arg(length_in_timecode(seconds)));
    };
    QObject::connect(&shown, &RecordList::changed, heading, count);
    count();
  }

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
