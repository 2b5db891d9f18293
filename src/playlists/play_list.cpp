#include "play_list.h"

#include "core/console.h"
#include "core/folders.h"
#include "core/movielist.h"
#include "core/notifications.h"

namespace tavri {

std::optional<QString> prompt_for_name(Dialogs& dialogs, const QString& start_text) {
  return dialogs.prompt("Please enter the new name:", start_text, 200);
}

void alert_no_free_id(Dialogs& dialogs) {
  dialogs.alert("No free id", "Every id from 1 to 65534 is taken. Remove one before creating another.", {"OK"});
}

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
  const auto id = catalogue_.free_id();
  if (!id) {
    alert_no_free_id(dialogs_);
    return std::nullopt;
  }
  Record playlist{{"name", name}, {"id", *id}};
  store_movielist(playlist, {});
  return playlist;
}

void PlayList::append_and_select(const Record& playlist) {
  RecordList& list = catalogue_.list();
  list.append(playlist);
  list.select_list_indices({list.size() - 1});
}

void PlayList::add_new_playlist() {
  console_log("ADD PLAYLIST");
  const auto name = prompt_for_name(dialogs_, "New List");
  if (!name) return;
  console_log(QString("NEW LIST: %1").arg(*name));
  if (auto playlist = new_playlist(*name)) append_and_select(*playlist);
}

void PlayList::copy_playlist() {
  const RecordArray selected = catalogue_.list().selected_records();
  if (selected.isEmpty()) return;
  const auto id = catalogue_.free_id();
  if (!id) return alert_no_free_id(dialogs_);
  Record copy = selected.first();
  copy["id"] = *id;
  append_and_select(copy);
}

void PlayList::changeName() {
  RecordList& list = catalogue_.list();
  const QList<int> selected = list.selected_list_indices();
  if (selected.isEmpty()) return;
  console_log("EDIT");
  const auto name = prompt_for_name(dialogs_, list.at(selected.first()).value("name").toString());
  if (!name) return;
  console_log(QString("NEW NAME: %1").arg(*name));
  list.set_value(selected.first(), "name", *name);
  save();
}

void PlayList::remove_selected() {
  RecordList& list = catalogue_.list();
  QList<int> selected = list.selected_list_indices();
  std::sort(selected.begin(), selected.end(), std::greater<>());
  for (int index : selected) list.remove_at(index);
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
