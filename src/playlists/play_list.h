#pragma once
#include <QObject>
#include <QUrl>
#include <optional>

#include "core/bus.h"
#include "core/catalogue.h"
#include "core/dialogs.h"
#include "playlists/playlist_users.h"

namespace tavri {

// The catalogue of playlists, shared as one list (with its selection) by the
// playlist editor, the content library and the schedule editor.
class PlayList : public QObject {
  Q_OBJECT
 public:
  PlayList(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);
  ~PlayList() override { bus_.unregister(this); }

  RecordList& ArrayController_PLAYLIST() { return catalogue_.list(); }
  RecordList& get_all_playlists() { return catalogue_.list(); }
  Catalogue& catalogue() { return catalogue_; }
  // The name of the playlist with this id (as number or as the players'
  // text), empty when there is none.
  QString name_of(const QVariant& id);

  void add_new_playlist();
  void copy_playlist();
  void changeName();
  // Asks first, naming the schedules that play them; removes the published
  // files, and the schedules' tasks forget the ids.
  void remove_selected();
  void set_users(PlaylistUsers* users) { users_ = users; }
  void save();
  void load();
  void send_playlist_feedback();

  // The same with explicit arguments (the API's): each checks first and
  // changes nothing when an argument is wrong.
  Outcome create(const QString& name, qint64* id = nullptr);
  Outcome rename(qint64 id, const QString& name);
  Outcome copy(qint64 id, qint64* copy_id = nullptr);
  // Removes the playlists and their files; the schedules' tasks forget them.
  Outcome remove(const QList<qint64>& ids);

  // A new empty playlist record with the lowest free id; nothing (after an
  // alert) when every id is taken.
  std::optional<Record> new_playlist(const QString& name);
  // Appends the record and selects it.
  void append_and_select(const Record& playlist);

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  Catalogue catalogue_;
  PlaylistUsers* users_ = nullptr;
  QUrl folder_url_;
};

}  // namespace tavri
