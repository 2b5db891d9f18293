#pragma once
#include <QObject>
#include <functional>
#include <limits>
#include <optional>
#include <utility>
#include <vector>
#include <QUrl>

#include "core/bus.h"
#include "core/dialogs.h"
#include "core/outcome.h"
#include "core/record_list.h"

namespace tavri {

class PlayList;

// The editor of the selected playlist: keeps the record's items in step
// with every edit and publishes the playlist file for the players.
class display_playlist : public QObject {
  Q_OBJECT
 public:
  display_playlist(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);
  ~display_playlist() override { bus_.unregister(this); }
  // The shared lists: the playlist catalogue and the content list.
  void attach(PlayList* catalogue, RecordList* content);

  RecordList& ArrayController_DISPLAYLIST() { return items_; }
  QUrl folder_url() const { return folder_url_; }

  void get_folder_url(const QVariant& url);
  void tableViewSelectionDidChange();
  // Both return whether the playlist's file holds what the editor shows.
  bool save_list();
  bool save_to_file();
  void ADD_FILE_TO_LIST();
  // Content items (by content list index) put into the shown playlist before
  // the item at `at` (at the end when past it), as a drop does.
  void insert_content(const QList<int>& content_indices, int at);
  // An item moved to another place in the shown playlist, as a drag does.
  void move_item(int from, int to);
  void PLAYLIST_CREATOR();
  void PLAYLIST_CREATOR_SEP();
  void REPLACE_FILE();
  void DELETE_MOVIE();
  // Puts the last deleted item back where it was, in its playlist; every
  // deletion of the session can be undone, newest first.
  void UNDO_DELETE();
  bool can_undo_delete() const { return !deleted_.empty(); }
  void MOVE_UP();
  void MOVE_DOWN();
  void changeImg_length();
  void send_to_device();

  // An item as an operation names it: a content file and, for an image,
  // the seconds it shows (0: the file's own length).
  struct ItemSpec {
    QString file;
    int seconds = 0;
    QString first_date, last_date;  // yyyy-MM-dd; empty: no bound
  };
  // Playlist `id` gets these items in this order and is published at once.
  // Nothing changes when a file is unknown or a length does not fit.
  Outcome set_items(qint64 id, const QList<ItemSpec>& items);

  // The item edits by playlist id and item index, which the buttons above
  // call with the selection. Each publishes the playlist at once, and
  // changes nothing when an index or a value does not fit.
  // Content records put before item `at` (at the end when past it).
  Outcome insert_items(qint64 id, int at, const RecordArray& content_items);
  Outcome move_item(qint64 id, int from, int to);  // `to`: its index afterwards
  Outcome remove_item(qint64 id, int index);
  // Another content record in the item's place; an image keeps the length.
  Outcome replace_item(qint64 id, int index, const Record& content_item);
  Outcome set_image_length(qint64 id, int index, int seconds);
  // An item's first or last date ("first_date", "last_date": yyyy-MM-dd,
  // empty to clear): outside them the players do not get it.
  Outcome set_item_date(qint64 id, int index, const QString& key, const QString& date);
  // The id of the playlist whose items the editor shows.
  qint64 shown_playlist_id() const { return shown_id(); }

 private:
  // Where every edit lands: a playlist (by list index) gets these items,
  // the shown one through the editor with item `current` made current, and
  // is published.
  void write_items(int list_index, const RecordArray& items, int current);
  // The playlist's list index and items, or the refusal.
  std::optional<std::pair<int, RecordArray>> items_of(qint64 id, Outcome& refusal) const;
  static constexpr int kUnchanged = std::numeric_limits<int>::min();
  using ItemChange = std::function<Outcome(RecordArray& items, int& current)>;
  Outcome change_items(qint64 id, std::optional<int> at, const ItemChange& change);
  qint64 shown_id() const { return shown_id_.toLongLong(); }
  // Writes a playlist's file for the players.
  bool publish(const Record& playlist);
  int selected_playlist() const;  // list index, or -1
  int current_item() const;       // list index, or -1
  void make_current(int index);
  void append_content(const RecordArray& content_items);
  void move_current(int by);
  RecordList* playlists() const;

  Bus& bus_;
  Dialogs& dialogs_;
  PlayList* catalogue_ = nullptr;
  RecordList* content_ = nullptr;
  RecordList items_;
  QUrl folder_url_;
  QVariant shown_id_;  // the id of the playlist whose items are shown
  struct Deleted {
    QVariant playlist_id;
    int index;
    Record item;
    quint64 serial = 0;
  };
  bool put_back(const Deleted& entry);
  quint64 next_serial_ = 1;
  std::vector<Deleted> deleted_;
};

}  // namespace tavri
