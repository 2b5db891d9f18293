#include "play_list.h"

#include "core/folders.h"
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

void PlayList::save() {
  catalogue_.save();
  bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
}

void PlayList::load() { catalogue_.load(); }

void PlayList::send_playlist_feedback() {
  bus_.post(note::PLAYLISTARRAY_GET_FEEDBACK, to_variant_list(catalogue_.list().records()));
}

}  // namespace tavri
