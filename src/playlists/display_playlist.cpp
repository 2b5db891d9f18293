#include "display_playlist.h"

#include <QPointer>

#include <algorithm>

#include <QFileInfo>

#include "core/console.h"
#include "core/undo_history.h"
#include "core/keyed_archive.h"
#include "core/local_day.h"
#include "core/movielist.h"
#include "playlists/missing_media.h"
#include "core/notifications.h"
#include "playlists/play_list.h"
#include "playlists/published_file.h"

namespace tavri {

display_playlist::display_playlist(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::FOLDER_URL, [this](const QVariant& v) { get_folder_url(v); });
  bus_.register_observer(this, note::PLAYLIST_DID_CHANGE, [this](const QVariant&) { tableViewSelectionDidChange(); });
}

void display_playlist::attach(PlayList* catalogue, RecordList* content) {
  catalogue_ = catalogue;
  content_ = content;
  connect(playlists(), &RecordList::selection_changed, this, &display_playlist::tableViewSelectionDidChange);
}

RecordList* display_playlist::playlists() const { return catalogue_ ? &catalogue_->ArrayController_PLAYLIST() : nullptr; }

void display_playlist::get_folder_url(const QVariant& url) { folder_url_ = url.toUrl(); }

int display_playlist::selected_playlist() const {
  if (!playlists()) return -1;
  const QList<int> selected = playlists()->selected_list_indices();
  return selected.isEmpty() ? -1 : selected.first();
}

int display_playlist::current_item() const {
  const QList<int> selected = items_.selected_list_indices();
  return selected.isEmpty() ? -1 : selected.first();
}

void display_playlist::make_current(int index) {
  if (index >= 0 && index < items_.size()) items_.select_list_indices({index});
}

void display_playlist::tableViewSelectionDidChange() {
  console_log("CHANGE SELECTION");
  // The same playlist shown again (a rename sorts the catalogue) keeps its current item.
  const int kept_item = current_item();
  const QVariant previous = shown_id_;
  items_.clear();
  const int p = selected_playlist();
  shown_id_ = p < 0 ? QVariant() : playlists()->at(p).value("id");
  if (p < 0) return;
  const RecordArray items = decode_movielist(playlists()->at(p));
  if (items.isEmpty()) {
    save_to_file();  // an emptied playlist is published empty, never left stale
    return;
  }
  items_.set_records(items);
  make_current(previous.isValid() && previous == shown_id_ && kept_item >= 0 ? std::min(kept_item, items_.size() - 1) : 0);
  save_list();
}

bool display_playlist::save_list() {
  const int p = selected_playlist();
  if (p < 0) return false;
  Record playlist = playlists()->at(p);
  store_movielist(playlist, items_.records());
  playlists()->replace(p, playlist);
  return save_to_file();
}

bool display_playlist::save_to_file() {
  const int p = selected_playlist();
  return p >= 0 && publish(playlists()->at(p));
}

bool display_playlist::publish(const Record& playlist) {
  // An empty playlist is published too (with "movies" 0): players must
  // never fetch an older playlist's items under this id.
  const QByteArray bytes = playlist_file_bytes(playlist, local_today());
  bus_.post(note::GET_URL);
  if (!publish_now(folder_url_, playlist_file_name(playlist.value("id")), bytes, kPlaylistPublishTag)) return false;
  bus_.post(note::PLAYLIST_DID_PUBLISH, playlist.value("id"));
  return true;
}

void display_playlist::append_content(const RecordArray& content_items) {
  insert_items(shown_id(), items_.size(), content_items);
  make_current(items_.size() - 1);
}

// Selected content items in the order the table shows them.
static RecordArray selected_in_shown_order(const RecordList* content) {
  RecordArray out;
  if (!content) return out;
  for (int row : content->selected_rows()) out.append(content->row(row));
  return out;
}

void display_playlist::insert_content(const QList<int>& content_indices, int at) {
  if (!content_ || selected_playlist() < 0) return;
  RecordArray chosen;
  for (int index : content_indices)
    if (index >= 0 && index < content_->size()) chosen.append(content_->at(index));
  insert_items(shown_id(), at, chosen);
}

void display_playlist::move_item(int from, int to) {
  if (selected_playlist() < 0 || from < 0 || from >= items_.size()) return;
  move_item(shown_id(), from, std::clamp(to, 0, items_.size() - 1));
}

void display_playlist::ADD_FILE_TO_LIST() {
  const RecordArray chosen = selected_in_shown_order(content_);
  if (chosen.isEmpty() || selected_playlist() < 0) return;
  append_content(chosen);
}

void display_playlist::PLAYLIST_CREATOR() {
  const RecordArray chosen = selected_in_shown_order(content_);
  if (chosen.isEmpty() || !catalogue_) return;
  const auto name = prompt_for_name(dialogs_, "New List");
  if (!name) return;
  console_log(QString("NEW LIST: %1").arg(*name));
  auto playlist = catalogue_->new_playlist(*name);
  if (!playlist) return;
  catalogue_->append_and_select(*playlist);
  append_content(chosen);
}

void display_playlist::PLAYLIST_CREATOR_SEP() {
  if (!catalogue_) return;
  for (const Record& item : selected_in_shown_order(content_)) {
    const QString name = QFileInfo(item.value("file_url").toUrl().toLocalFile()).completeBaseName();
    console_log(QString("NEW LIST: %1").arg(name));
    auto playlist = catalogue_->new_playlist(name);
    if (!playlist) return;
    catalogue_->append_and_select(*playlist);
    append_content({item});
  }
}

void display_playlist::REPLACE_FILE() {
  const RecordArray chosen = selected_in_shown_order(content_);
  if (chosen.isEmpty()) return;
  if (chosen.size() > 1) {
    dialogs_.alert("sorry", "please select only one file in file-list for replacing", {"OK"});
    return;
  }
  const int current = current_item();
  if (selected_playlist() < 0 || current < 0) return;
  replace_item(shown_id(), current, chosen.first());
}

void display_playlist::DELETE_MOVIE() {
  const int current = current_item();
  if (selected_playlist() < 0 || current < 0) return;
  const Deleted entry{shown_id_, current, items_.at(current), next_serial_++};
  deleted_.push_back(entry);
  remove_item(shown_id(), current);
  QPointer<display_playlist> self(this);
  remember_deletion(QString("delete item \"%1\"").arg(entry.item.value("file_name").toString()), [self, entry] {
    if (!self) return;
    // Put back by the button already: it is no longer waiting here.
    auto it = std::find_if(self->deleted_.begin(), self->deleted_.end(),
                           [&](const Deleted& d) { return d.serial == entry.serial; });
    if (it == self->deleted_.end()) return;
    self->deleted_.erase(it);
    self->put_back(entry);
  });
}

void display_playlist::UNDO_DELETE() {
  while (!deleted_.empty()) {
    const Deleted last = deleted_.back();
    deleted_.pop_back();
    if (put_back(last)) return;
  }
}

// False when its playlist is gone: nothing to put back.
bool display_playlist::put_back(const Deleted& entry) {
  int owner = -1;
  for (int i = 0; playlists() && i < playlists()->size(); ++i)
    if (playlists()->at(i).value("id") == entry.playlist_id) owner = i;
  if (owner < 0) return false;
  if (shown_id_ != entry.playlist_id) {
    playlists()->select_list_indices({owner});
    tableViewSelectionDidChange();
  }
  insert_items(shown_id(), entry.index, {entry.item});
  return true;
}

void display_playlist::move_current(int by) {
  const int current = current_item();
  if (selected_playlist() < 0 || current < 0) return;
  const int target = current + by;
  if (target < 0 || target >= items_.size()) return;
  move_item(shown_id(), current, target);
}

void display_playlist::MOVE_UP() { move_current(-1); }
void display_playlist::MOVE_DOWN() { move_current(+1); }

void display_playlist::changeImg_length() {
  const int current = current_item();
  if (current < 0) return;
  if (!items_.at(current).value("is_img").toBool()) {
    dialogs_.alert("This is not an image.", QString(), {"OK"});
    return;
  }
  const int length = read_integer(items_.at(current).value("file_length").toString());
  const auto text = dialogs_.prompt("Please enter the new length in seconds:", QString::number(length), 200);
  if (text) {
    // A still shown for no time, or a typed word (read as 0), would make players skip it.
    const int typed = read_integer(*text);
    if (typed > 0) {
      set_image_length(shown_id(), current, typed);
      return;
    }
    dialogs_.alert("The length must be a whole number of seconds, at least 1.", *text, {"OK"});
  }
  save_list();
}

void display_playlist::send_to_device() {
  const int p = selected_playlist();
  if (p < 0) return;
  const Record copy = playlists()->at(p);
  if (!confirm_send_despite_missing(dialogs_, copy.value("name").toString(), missing_files(copy))) return;
  // Players told to load a file that is not there would fetch nothing.
  if (!save_list()) {
    dialogs_.alert(QString("The playlist \"%1\" was not sent.").arg(copy.value("name").toString()),
                   "Its file could not be written to the content folder (see the console), so the players "
                   "would not find it.",
                   {"OK"});
    return;
  }
  bus_.post(note::SEND_PLAYLIST, copy);
}

Outcome display_playlist::set_items(qint64 id, const QList<ItemSpec>& wanted) {
  if (!catalogue_ || !content_) return Outcome::failed("The playlists are not ready.");
  const int index = catalogue_->catalogue().index_of(id);
  if (index < 0) return Outcome::unknown("id", QString("No playlist has the id %1.").arg(id));
  QHash<QString, int> by_file;
  for (int i = 0; i < content_->size(); ++i) by_file.insert(content_->at(i).value("file_url").toUrl().fileName(), i);
  RecordArray items;
  for (const ItemSpec& one : wanted) {
    const auto found = by_file.constFind(one.file);
    if (found == by_file.cend())
      return Outcome::unknown("items", QString("No content item is the file \"%1\".").arg(one.file));
    Record item = content_->at(*found);
    if (one.seconds < 0 || (one.seconds > 0 && !item.value("is_img").toBool()))
      return Outcome::bad("items", QString("\"%1\": only an image takes a length, a whole number of seconds, at least 1.")
                                       .arg(one.file));
    if (one.seconds > 0) item["file_length"] = one.seconds;
    for (const auto& [key, date] : {std::pair{kItemFirstDate, one.first_date}, std::pair{kItemLastDate, one.last_date}}) {
      if (date.isEmpty()) continue;
      if (!QDate::fromString(date, "yyyy-MM-dd").isValid())
        return Outcome::bad("items", QString("\"%1\": \"%2\" is not a date (yyyy-MM-dd).").arg(one.file, date));
      item[key] = date;
    }
    if (!one.first_date.isEmpty() && !one.last_date.isEmpty() && one.last_date < one.first_date)
      return Outcome::bad("items", QString("\"%1\": its last date comes before its first.").arg(one.file));
    items.append(item);
  }
  write_items(index, items, 0);
  return Outcome::done();
}

void display_playlist::write_items(int list_index, const RecordArray& items, int current) {
  if (shown_id_ == playlists()->at(list_index).value("id")) {
    // The editor shows it: the edit goes through the editor, current item and all.
    items_.set_records(items);
    make_current(std::min(current, items_.size() - 1));
    save_list();
    return;
  }
  Record playlist = playlists()->at(list_index);
  store_movielist(playlist, items);
  playlists()->replace(list_index, playlist);
  publish(playlist);
}

std::optional<std::pair<int, RecordArray>> display_playlist::items_of(qint64 id, Outcome& refusal) const {
  if (!catalogue_) {
    refusal = Outcome::failed("The playlists are not ready.");
    return std::nullopt;
  }
  const int index = catalogue_->catalogue().index_of(id);
  if (index < 0) {
    refusal = Outcome::unknown("id", QString("No playlist has the id %1.").arg(id));
    return std::nullopt;
  }
  // The shown playlist's items are the editor's, which may hold an edit not yet stored.
  if (shown_id_ == playlists()->at(index).value("id")) return std::pair{index, items_.records()};
  return std::pair{index, decode_movielist(playlists()->at(index))};
}

namespace {
Outcome no_item(int index, int count) {
  return Outcome::bad("index", QString("The playlist has no item %1 (it has %2).").arg(index + 1).arg(count));
}
}  // namespace

// Playlist `id`'s items, with item `at` checked when given, edited by
// `change`, which names the item current afterwards; nothing is written
// when it refuses, or leaves `current` at kUnchanged (an edit that changes
// nothing).
Outcome display_playlist::change_items(qint64 id, std::optional<int> at, const ItemChange& change) {
  Outcome refusal;
  auto found = items_of(id, refusal);
  if (!found) return refusal;
  auto& [index, items] = *found;
  if (at && (*at < 0 || *at >= items.size())) return no_item(*at, static_cast<int>(items.size()));
  int current = kUnchanged;
  if (const Outcome o = change(items, current); !o.ok()) return o;
  if (current != kUnchanged) write_items(index, items, current);
  return Outcome::done();
}

Outcome display_playlist::insert_items(qint64 id, int at, const RecordArray& content_items) {
  return change_items(id, std::nullopt, [&](RecordArray& items, int& current) {
    if (content_items.isEmpty()) return Outcome::done();
    current = std::clamp(at, 0, static_cast<int>(items.size()));
    for (int k = 0; k < content_items.size(); ++k) items.insert(current + k, content_items.at(k));
    return Outcome::done();
  });
}

Outcome display_playlist::move_item(qint64 id, int from, int to) {
  return change_items(id, from, [&](RecordArray& items, int& current) {
    if (to < 0 || to >= items.size()) return no_item(to, static_cast<int>(items.size()));
    if (to != from) {
      items.move(from, to);
      current = to;
    }
    return Outcome::done();
  });
}

Outcome display_playlist::remove_item(qint64 id, int at) {
  return change_items(id, at, [&](RecordArray& items, int& current) {
    items.removeAt(at);
    // The item that took its place (or the new last one) becomes current.
    current = std::min(at, static_cast<int>(items.size()) - 1);
    return Outcome::done();
  });
}

Outcome display_playlist::replace_item(qint64 id, int at, const Record& content_item) {
  return change_items(id, at, [&](RecordArray& items, int& current) {
    Record replacement = content_item;
    if (replacement.value("is_img").toBool())
      replacement["file_length"] = read_integer(items.at(at).value("file_length").toString());
    items[at] = replacement;
    current = at;
    return Outcome::done();
  });
}

Outcome display_playlist::set_image_length(qint64 id, int at, int seconds) {
  return change_items(id, at, [&](RecordArray& items, int& current) {
    if (!items.at(at).value("is_img").toBool()) return Outcome::bad("index", "Only an image takes a length.");
    if (seconds <= 0) return Outcome::bad("seconds", "The length must be a whole number of seconds, at least 1.");
    items[at]["file_length"] = seconds;
    current = at;
    return Outcome::done();
  });
}

Outcome display_playlist::set_item_date(qint64 id, int at, const QString& key, const QString& date) {
  if (key != kItemFirstDate && key != kItemLastDate) return Outcome::bad("key", QString("An item has no \"%1\".").arg(key));
  if (!date.isEmpty() && !QDate::fromString(date, "yyyy-MM-dd").isValid())
    return Outcome::bad("date", QString("\"%1\" is not a date (yyyy-MM-dd).").arg(date));
  return change_items(id, at, [&](RecordArray& items, int& current) {
    Record item = items.at(at);
    if (date.isEmpty())
      item.remove(key);
    else
      item[key] = date;
    const QString first = item.value(kItemFirstDate).toString(), last = item.value(kItemLastDate).toString();
    if (!first.isEmpty() && !last.isEmpty() && last < first)
      return Outcome::bad("date", "The last date comes before the first.");
    items[at] = item;
    current = at;
    return Outcome::done();
  });
}

}  // namespace tavri
