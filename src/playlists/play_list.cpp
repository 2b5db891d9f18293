#include "play_list.h"

#include <QPointer>

#include "core/console.h"
#include "core/undo_history.h"
#include "core/folders.h"
#include "core/movielist.h"
#include "core/notifications.h"
#include "playlists/published_file.h"

namespace tavri {

PlayList::PlayList(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      bus_(bus),
      dialogs_(dialogs),
      catalogue_(kPlaylistFile, "SAVE PLAYLIST !!!!!", "LOAD PLAYLIST !!!!!") {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  bus_.register_observer(this, note::FOLDER_URL, [this](const QVariant& v) { folder_url_ = v.toUrl(); });
  bus_.register_observer(this, note::PLAYLISTARRAY_WILL_HAVE_FEEDBACK,
                         [this](const QVariant&) { send_playlist_feedback(); });
}

std::optional<Record> PlayList::new_playlist(const QString& name) {
  const auto id = catalogue_.allocate_id(dialogs_);
  if (!id) return std::nullopt;
  Record playlist{{"name", name}, {"id", *id}};
  store_movielist(playlist, {});
  return playlist;
}

void PlayList::append_and_select(const Record& playlist) { catalogue_.append_and_select(playlist); }

void PlayList::add_new_playlist() {
  console_log("ADD PLAYLIST");
  const auto name = prompt_for_name(dialogs_, "New List");
  if (!name) return;
  if (const Outcome o = create(*name); !o.ok()) dialogs_.alert(o.message, o.detail, {"OK"});
}

QString PlayList::name_of(const QVariant& id) {
  const QString wanted = id.toString();
  const RecordList& lists = catalogue_.list();
  for (int i = 0; i < lists.size(); ++i)
    if (lists.at(i).value("id").toString() == wanted) return lists.at(i).value("name").toString();
  return QString();
}

void PlayList::copy_playlist() { catalogue_.copy_selected(dialogs_); }

void PlayList::changeName() {
  if (catalogue_.rename_selected(dialogs_)) save();
}

Outcome PlayList::create(const QString& name, qint64* id) {
  console_log(QString("NEW LIST: %1").arg(name));
  Record playlist{{"name", name}};
  store_movielist(playlist, {});
  return catalogue_.add(playlist, id);
}

Outcome PlayList::rename(qint64 id, const QString& name) {
  Outcome o = catalogue_.rename(id, name);
  if (o.ok()) save();
  return o;
}

Outcome PlayList::copy(qint64 id, qint64* copy_id) { return catalogue_.copy(id, copy_id); }

void PlayList::remove_selected() {
  const RecordArray chosen = catalogue_.list().selected_records();
  if (chosen.isEmpty()) return;
  QSet<int> ids;
  for (const Record& playlist : chosen) ids.insert(playlist.value("id").toInt());
  const QStringList users = users_ ? users_->schedules_using(ids) : QStringList();
  const QString message = chosen.size() == 1
                              ? QString("Remove the playlist \"%1\"?").arg(chosen.first().value("name").toString())
                              : QString("Remove %1 playlists?").arg(chosen.size());
  const QString detail =
      users.isEmpty() ? QString("No schedule plays it. Its file is removed from the content folder.")
                      : QString("Tasks of these schedules play it and will play no playlist (\"---\"): %1. "
                                "Its file is removed from the content folder.")
                            .arg(users.join(", "));
  if (dialogs_.alert(message, detail, {"Cancel", "Remove"}) != 1) return;
  remove(catalogue_.selected_ids());
}

Outcome PlayList::remove(const QList<qint64>& id_list) {
  if (Outcome o = catalogue_.check_ids(id_list); !o.ok()) return o;
  console_log("REMOVE PLAYLIST");
  QSet<int> ids;
  for (qint64 id : id_list) ids.insert(static_cast<int>(id));
  const auto removed = catalogue_.with_indices(id_list);
  const QVariant uses = users_ ? users_->uses_snapshot() : QVariant();
  catalogue_.remove_ids(id_list);
  // Players must not fetch a removed playlist, nor a new one under its id
  // before that one is published.
  bus_.post(note::GET_URL);
  for (int id : ids) unpublish_file(folder_url_, playlist_file_name(id));
  if (users_) users_->forget_playlists(ids);
  QPointer<PlayList> self(this);
  remember_deletion(removed.size() == 1 ? "remove playlist" : "remove playlists", [self, removed, uses] {
    if (!self) return;
    // An id taken again since then cannot come back: its records stay gone.
    if (!self->catalogue_.put_back(removed)) return;
    if (self->users_) self->users_->restore_uses(uses);
    self->save();
    self->bus_.post(note::PUBLISH_STALE_FILES);
  });
  return Outcome::done();
}

void PlayList::save() {
  catalogue_.save();
  bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
}

void PlayList::load() {
  catalogue_.load();
  report_damaged_catalogue(catalogue_, dialogs_, "playlists");
}

void PlayList::send_playlist_feedback() {
  bus_.post(note::PLAYLISTARRAY_GET_FEEDBACK, to_variant_list(catalogue_.list().records()));
}

}  // namespace tavri
