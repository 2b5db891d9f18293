// Editing the content folder and carrying each change into the playlists.
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include "content/content_item.h"
#include "content/file_list.h"
#include "core/console.h"
#include "core/main_queue.h"
#include "core/notifications.h"

namespace tavri {

namespace {

QString path_of(const QVariant& url) { return url.toUrl().toLocalFile(); }

bool links(const Record& item, const QUrl& url) { return path_of(item.value(key::FILE_URL)) == url.toLocalFile(); }

}  // namespace

void FileList::add_File() {
  if (!folder_known()) {
    dialogs_.alert("Any content folder selected",
                   "Please press first \"select folder\", and select your working directory.", {"OK"});
    return;
  }
  const auto chosen = dialogs_.open_panel(PanelOptions::files("Select your file", true));
  if (!chosen) return;
  for (const QString& file : *chosen) start_transfer(file);
}

void FileList::add_stream() {
  console_log("ADD STREAM");
  const auto address = dialogs_.prompt("Please enter the web address:", QString(), 400);
  if (!address) return;
  const auto name = dialogs_.prompt("Please enter a name:", QString(), 400);
  if (!name) return;
  console_log(QString("NEW WEB ADDRESS: %1").arg(*address));
  // Only plain ASCII is written; anything else writes nothing, silently.
  bool ascii = std::all_of(address->begin(), address->end(), [](QChar c) { return c.unicode() < 128; });
  if (folder_known() && ascii) {
    QFile file(QString("%1/%2.stream").arg(folder_path(), *name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(address->toLatin1());
  }
  QPointer<FileList> self(this);
  run_after(0.5, [self] { if (self) self->scan_folder(); });
}

void FileList::replace_file() {
  const RecordArray selected = files_.selected_records();
  if (selected.isEmpty()) return;
  if (selected.size() > 1) {
    dialogs_.alert("sorry", "please select only one file for replacing", {"OK"});
    return;
  }
  replace_button_enabled_ = false;
  emit buttons_changed();
  const auto chosen = dialogs_.open_panel(PanelOptions::files("Select your file", false));
  replace_button_enabled_ = true;
  emit buttons_changed();
  if (!chosen || chosen->isEmpty()) return;
  const QUrl new_url = QUrl::fromLocalFile(chosen->first());
  start_transfer(new_url.toLocalFile());
  const QUrl old_url = selected.first().value(key::FILE_URL).toUrl();
  // The copy lands by renaming a finished temporary file, so deleting the
  // old file now never removes a new file of the same name. Choosing the
  // folder's own file as its replacement deletes nothing.
  if (old_url.toLocalFile() == new_url.toLocalFile()) return;
  if (find_file_in_playlists(old_url)) replace_file_at_url(old_url, new_url);
  else delete_file_at_url(old_url);
}

void FileList::replace_file_at_url(const QUrl& old_url, const QUrl& new_url) {
  const QUrl destination = QUrl::fromLocalFile(folder_path() + "/" + new_url.fileName());
  auto fresh = content_kind_of(new_url.fileName()) == ContentKind::image ? FILE_LIST_IMG_ITEM_BY_FILE_URL(new_url)
                                                                         : FILE_LIST_ITEM_BY_FILE_URL(new_url);
  rewrite_playlists([&](const RecordArray& items) {
    RecordArray out;
    for (const Record& item : items) {
      if (!links(item, old_url)) {
        out.append(item);
      } else if (fresh) {
        Record replacement = *fresh;
        replacement[key::FILE_URL] = destination;
        out.append(replacement);
      }
    }
    return out;
  });
  delete_file_at_url(old_url);
}

void FileList::delete_File() {
  const RecordArray selected = files_.selected_records();
  if (selected.isEmpty()) return;
  for (const Record& item : selected) {
    const QUrl url = item.value(key::FILE_URL).toUrl();
    if (!find_file_in_playlists(url)) {
      delete_file_at_url(url);
      continue;
    }
    const QString name = QFileInfo(url.toLocalFile()).completeBaseName();
    const int answer = dialogs_.alert(QString("%1\n\n%2").arg(name, "This file is linked in playlists."),
                                      "What do you want to do?", {"Only Delete", "Delete + Unlink", "Cancel"});
    if (answer == 0) {
      console_log("DELETE FILE");
      delete_file_at_url(url);
    } else if (answer == 1) {
      console_log("UNLINK + DELETE FILE");
      unlink_file_at_url(url);
      delete_file_at_url(url);
    }
  }
  scan_folder();
}

void FileList::get_links() {
  for (const Record& item : files_.selected_records()) {
    const QUrl url = item.value(key::FILE_URL).toUrl();
    const QStringList names = getlinksforfile(url);
    console_log(QString("PLAYLIST_LINKS = (%1)").arg(names.join(", ")));
    QString text = content_file_name(url.toLocalFile()) + "\n\nPLAYLISTS:\n";
    for (const QString& name : names) text += "\n" + name;
    if (names.isEmpty()) text += "\nno links";
    dialogs_.alert("Links:", text, {"OK"});
  }
}

bool FileList::find_file_in_playlists(const QUrl& url) const {
  if (!playlists_) return false;
  for (const Record& playlist : playlists_->records())
    for (const Record& item : decode_movielist(playlist, false))
      if (links(item, url)) return true;
  return false;
}

QStringList FileList::getlinksforfile(const QUrl& url) const {
  QStringList names;
  if (!playlists_) return names;
  for (const Record& playlist : playlists_->records())
    for (const Record& item : decode_movielist(playlist, false))
      if (links(item, url)) {
        const QString name = playlist.value("name").toString();
        if (!names.contains(name)) names << name;
        break;
      }
  return names;
}

void FileList::rewrite_playlists(const std::function<RecordArray(const RecordArray&)>& fn) {
  if (!playlists_) return;
  for (int i = 0; i < playlists_->size(); ++i) {
    Record playlist = playlists_->at(i);
    store_movielist(playlist, fn(decode_movielist(playlist)));
    playlists_->replace(i, playlist);
  }
}

void FileList::playlists_redrawn_and_changed() {
  QPointer<FileList> self(this);
  run_next([self] {
    if (!self) return;
    console_log("Im on the main thread");
    if (self->playlists_) self->playlists_->refresh();
    self->bus_.post(note::PLAYLIST_DID_CHANGE, {});
  });
}

void FileList::unlink_file_at_url(const QUrl& url) {
  rewrite_playlists([&](const RecordArray& items) {
    RecordArray kept;
    for (const Record& item : items)
      if (!links(item, url)) kept.append(item);
    return kept;
  });
  playlists_redrawn_and_changed();
}

void FileList::delete_file_at_url(const QUrl& url) { QFile::remove(url.toLocalFile()); }

void FileList::relink_files() {
  files_.refresh();  // the display sort is re-applied by every change
  const RecordArray content = files_.records();
  QStringList missing_names;
  QList<QUrl> missing_urls;
  if (playlists_) {
    for (int i = 0; i < playlists_->size(); ++i) {
      Record playlist = playlists_->at(i);
      RecordArray items = decode_movielist(playlist);
      for (Record& item : items) {
        item[key::FILE_FOUND] = 0;
        const QString name = item.value(key::FILE_NAME).toString();
        const Record* match = nullptr;
        int matches = 0;
        for (const Record& c : content)
          if (c.value(key::FILE_NAME).toString() == name) match = &c, ++matches;
        if (matches == 1) {
          Record copy = *match;
          // Each image entry keeps its own display time.
          if (item.value(key::IS_IMG).toBool()) copy[key::FILE_LENGTH] = read_integer(item.value(key::FILE_LENGTH).toString());
          item = copy;
        } else {
          const QUrl url = item.value(key::FILE_URL).toUrl();
          if (!missing_names.contains(name)) missing_names << name;
          if (!missing_urls.contains(url)) missing_urls << url;
        }
      }
      const QVariant movies = playlist.value("movies");
      store_movielist(playlist, items);
      if (movies.isValid()) playlist["movies"] = movies;
      playlists_->replace(i, playlist);
    }
  }
  bus_.post(note::PLAYLIST_DID_CHANGE, {});
  if (missing_names.isEmpty()) return;
  QString text;
  for (const QString& name : missing_names) text += "\n" + name;
  text += "\n\nWhat do you want to do?";
  if (dialogs_.alert("Missing movie files!", text, {"Ignore", "Unlink"}) == 1) {
    for (const QUrl& url : missing_urls) unlink_file_at_url(url);
    bus_.post(note::PLAYLIST_DID_CHANGE, {});
  }
}

}  // namespace tavri
