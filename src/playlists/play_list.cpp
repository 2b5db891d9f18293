#include "play_list.h"

#include "core/console.h"
#include "core/folders.h"
#include "core/movielist.h"
#include "core/notifications.h"

namespace tavri {

PlayList::PlayList(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      bus_(bus),
      dialogs_(dialogs),
      catalogue_(kPlaylistFile, "SAVE PLAYLIST !!!!!", "LOAD PLAYLIST !!!!!") {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
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
  console_log(QString("NEW LIST: %1").arg(*name));
  if (auto playlist = new_playlist(*name)) append_and_select(*playlist);
}

void PlayList::copy_playlist() { catalogue_.copy_selected(dialogs_); }

void PlayList::changeName() {
  if (catalogue_.rename_selected(dialogs_)) save();
}

void PlayList::remove_selected() { catalogue_.remove_selected(); }

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
