#include "display_playlist.h"

#include "core/notifications.h"

namespace tavri {

display_playlist::display_playlist(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::FOLDER_URL, [this](const QVariant& v) { get_folder_url(v); });
  bus_.register_observer(this, note::PLAYLIST_DID_CHANGE,
                         [this](const QVariant&) { tableViewSelectionDidChange(); });
}

void display_playlist::get_folder_url(const QVariant& url) { folder_url_ = url.toUrl(); }

void display_playlist::tableViewSelectionDidChange() {}

}  // namespace tavri
