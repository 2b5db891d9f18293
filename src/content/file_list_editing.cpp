// Editing the content folder and carrying each change into the playlists.
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <sys/statvfs.h>

#include "content/content_item.h"
#include "content/file_list.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/main_queue.h"
#include "core/notifications.h"
#include "players/net/wire_protocol.h"
#include "fs/file_beneath.h"
#include "core/text_rule.h"

namespace tavri {

namespace {

QString path_of(const QVariant& url) { return url.toUrl().toLocalFile(); }

bool links(const Record& item, const QUrl& url) { return path_of(item.value(key::FILE_URL)) == url.toLocalFile(); }

// Why a typed stream name cannot become a file of the folder; empty when it can.
QString stream_name_problem(const QString& name) {
  if (name.isEmpty()) return "The name is empty.";
  if (name.startsWith('.')) return "The name must not begin with a dot.";
  if (name.contains('/') || name.contains('\\')) return "The name must not contain / or \\.";
  if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
    return "The name must not contain control characters.";
  if (const auto problem = text_rule::problem(name, text_rule::Kind::file_name)) return *problem;
  if (name.contains(QString::fromUtf8(wire::kSeparator.data(), wire::kSeparator.size())))
    return QString("The name must not contain %1.").arg(QString::fromUtf8(wire::kSeparator.data(), wire::kSeparator.size()));
  return {};
}

}  // namespace

bool FileList::folder_chosen_or_alert() {
  if (folder_known()) return true;
  dialogs_.alert("Any content folder selected",
                 "Please press first \"select folder\", and select your working directory.", {"OK"});
  return false;
}

void FileList::add_File() {
  if (!folder_chosen_or_alert()) return;
  const auto chosen = dialogs_.open_panel(PanelOptions::files("Select your file", true));
  if (!chosen) return;
  for (const QString& file : *chosen) start_transfer(file);
}

void FileList::add_files(const QStringList& paths) {
  QStringList files;
  for (const QString& path : paths)
    if (QFileInfo(path).isFile()) files << path;
  if (files.isEmpty()) return;
  if (!folder_chosen_or_alert()) return;
  for (const QString& file : files) start_transfer(file);
}

void FileList::add_stream() {
  console_log("ADD STREAM");
  const auto address = dialogs_.prompt("Please enter the web address:", QString(), 400);
  if (!address) return;
  const auto name = dialogs_.prompt("Please enter a name:", QString(), 400);
  if (!name) return;
  if (const Outcome o = add_stream(*name, *address); !o.ok()) dialogs_.alert(o.message, o.detail, {"OK"});
}

Outcome FileList::add_stream(const QString& name, const QString& address) {
  if (const QString problem = stream_name_problem(name); !problem.isEmpty())
    return Outcome::bad("name", "This name cannot be used for a stream.", problem);
  // Players read the address as plain ASCII: anything else is refused, and
  // a stream that could not be written is said so, not left to look added.
  if (const auto problem = text_rule::problem(address, text_rule::Kind::address))
    return Outcome::bad("address", "This address cannot be used for a stream.", *problem);
  if (!std::all_of(address.begin(), address.end(), [](QChar c) { return c.unicode() < 128; }))
    return Outcome::bad("address", "This address cannot be used for a stream.",
                        "Players read plain ASCII addresses only; write other characters percent-encoded (%C3%A9).");
  console_log(QString("NEW WEB ADDRESS: %1").arg(address));
  if (folder_known()) {
    const QString path = QString("%1/%2.stream").arg(folder_path(), name);
    if (const auto failure = write_beneath(QFile::encodeName(folder_path()).toStdString(),
                                           QFile::encodeName(name + ".stream").toStdString(), address.toStdString()))
      return Outcome::failed("The stream was not added.", QString("%1: %2").arg(path, QString::fromStdString(*failure)));
  }
  scan_soon();
  return Outcome::done();
}

Outcome FileList::check_upload(const QString& name, quint64 size, bool replace, QString* destination) const {
  if (!folder_known()) return Outcome::conflict("folder", "No content folder is chosen.");
  if (const QString problem = stream_name_problem(name); !problem.isEmpty()) return Outcome::bad("file", problem);
  if (content_kind_of(name) == ContentKind::none)
    return Outcome::bad("file", "The library takes movies (.mov, .m4v, .mp4), images (.png, .jpg) and streams (.stream).");
  const QString path = folder_path() + "/" + name;
  if (FileBeneath::is_link(QFile::encodeName(folder_path()).toStdString(), QFile::encodeName(name).toStdString()))
    return Outcome::conflict("file", QString("\"%1\" is a link in the folder.").arg(name),
                             "Uploads are never written through a link. Remove it first.");
  if (!replace && QFileInfo::exists(path))
    return Outcome::conflict("file", QString("The folder has a file named \"%1\".").arg(name), "Ask to replace it.");
  // Room for the file and a little more: a full disk stops every save.
  constexpr quint64 kReserve = 16 << 20;
  struct statvfs disk {};
  if (statvfs(QFile::encodeName(folder_path()).constData(), &disk) == 0 &&
      quint64(disk.f_bavail) * disk.f_frsize < size + kReserve)
    return Outcome::no_room("size", QString("The disk has room for %1 MB, not %2 MB.")
                                        .arg(quint64(disk.f_bavail) * disk.f_frsize / 1000000)
                                        .arg((size + kReserve) / 1000000));
  *destination = path;
  return Outcome::done();
}

void FileList::scan_soon() {
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
  const QUrl old_url = selected.first().value(key::FILE_URL).toUrl();
  // The old file and its links go only once the new file is complete under
  // its final name; a failed copy keeps both.
  QPointer<FileList> self(this);
  start_transfer(new_url.toLocalFile(), [self, old_url](const QString& destination) {
    if (self) self->finish_replacement(old_url, QUrl::fromLocalFile(destination));
  });
}

void FileList::finish_replacement(const QUrl& old_url, const QUrl& new_url) {
  if (!find_file_in_playlists(old_url)) {
    if (old_url.toLocalFile() != new_url.toLocalFile()) delete_file_at_url(old_url);
    return;
  }
  // A movie's probe may take seconds: the playlists follow once it is known.
  probes_.run([new_url] { return replacement_item(new_url); },
              [this, old_url, new_url](std::optional<Record> fresh) { replace_file_with(old_url, new_url, fresh); });
}

std::optional<Record> FileList::replacement_item(const QUrl& url) {
  return content_kind_of(url.fileName()) == ContentKind::image ? image_item(url) : movie_item(url);
}

bool FileList::replace_file_at_url(const QUrl& old_url, const QUrl& new_url) {
  return replace_file_with(old_url, new_url, replacement_item(new_url));
}

bool FileList::replace_file_with(const QUrl& old_url, const QUrl& new_url, const std::optional<Record>& fresh) {
  const QUrl destination = QUrl::fromLocalFile(folder_path() + "/" + new_url.fileName());
  if (!fresh) {
    // Dropping the linked items would silently empty playlists.
    console_log(QString("REPLACE: cannot read %1").arg(new_url.toLocalFile()));
    dialogs_.alert("The replacement could not be read.",
                   QString("%1\n\nThe playlists keep the old file.").arg(new_url.toLocalFile()), {"OK"});
    return false;
  }
  rewrite_playlists([&](const RecordArray& items) {
    RecordArray out;
    for (const Record& item : items) {
      if (!links(item, old_url)) {
        out.append(item);
      } else {
        Record replacement = *fresh;
        replacement[key::FILE_URL] = destination;
        out.append(replacement);
      }
    }
    return out;
  });
  // A replacement of the same name has already taken the old file's place.
  if (old_url.toLocalFile() != destination.toLocalFile()) delete_file_at_url(old_url);
  return true;
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
                                      "What do you want to do?\n\nPlaylists that use it:\n" +
                                          getlinksforfile(url).join("\n"),
                                      {"Only Delete", "Delete + Unlink", "Cancel"},
                                      2);
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

int FileList::index_of_file(const QString& file_name) const {
  for (int i = 0; i < files_.size(); ++i)
    if (files_.at(i).value(key::FILE_URL).toUrl().fileName() == file_name) return i;
  return -1;
}

Outcome FileList::delete_files(const QStringList& names, bool unlink) {
  QList<QUrl> urls;
  for (const QString& name : names) {
    const int index = index_of_file(name);
    if (index < 0) return Outcome::unknown("files", QString("No content item is the file \"%1\".").arg(name));
    urls << files_.at(index).value(key::FILE_URL).toUrl();
  }
  for (const QUrl& url : urls) {
    console_log(unlink ? "UNLINK + DELETE FILE" : "DELETE FILE");
    if (unlink) unlink_file_at_url(url);
    delete_file_at_url(url);
  }
  scan_folder();
  return Outcome::done();
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
  // By id too: a copy keeps its source's name, and two lists of one name
  // are two lists.
  for (const Record& playlist : playlists_->records())
    for (const Record& item : decode_movielist(playlist, false))
      if (links(item, url)) {
        names << QString("%1 (id %2)").arg(playlist.value("name").toString(), playlist.value("id").toString());
        break;
      }
  return names;
}

std::optional<RecordArray> FileList::readable_items(const Record& playlist, bool with_images) const {
  auto items = try_decode_movielist(playlist, with_images);
  if (!items)
    console_log(QString("PLAYLIST %1 (%2): the items cannot be decoded and are left as they are")
                    .arg(playlist.value("name").toString(), playlist.value("id").toString()));
  return items;
}

void FileList::rewrite_playlists(const std::function<RecordArray(const RecordArray&)>& fn) {
  if (!playlists_) return;
  for (int i = 0; i < playlists_->size(); ++i) {
    Record playlist = playlists_->at(i);
    const auto items = readable_items(playlist);
    if (!items) continue;
    store_movielist(playlist, fn(*items));
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

namespace {
Record without_icon(Record r) {
  r.remove(key::FILE_ICON);
  return r;
}

// What identifies the content list for the relink: names, places and files.
size_t content_signature(const RecordArray& content) {
  size_t seed = 0;
  for (const Record& c : content)
    seed = qHashMulti(seed, c.value(key::FILE_NAME).toString(), c.value(key::FILE_URL).toUrl().toString(),
                      c.value("file_id").toLongLong(), c.value("file_change").toString(),
                      c.value("file_size").toString(), c.value(key::FILE_LENGTH).toString());
  return seed;
}
}  // namespace

void FileList::relink_files() {
  files_.refresh();  // the display sort is re-applied by every change
  const RecordArray content = files_.records();
  // One look-up per item instead of a pass over the content list.
  QHash<QString, int> by_name;
  QHash<QString, int> name_count;
  for (int c = 0; c < content.size(); ++c) {
    const QString name = content[c].value(key::FILE_NAME).toString();
    by_name.insert(name, c);
    ++name_count[name];
  }
  // A playlist that this relink left as it is, against the same content,
  // would come out the same: only its missing files are reported again.
  const size_t signature = content_signature(content);
  if (signature != relinked_signature_) relinked_.clear();
  relinked_signature_ = signature;
  QHash<const char*, Relinked> relinked;

  QStringList missing_names;
  QList<QUrl> missing_urls;
  auto report_missing = [&](const Relinked& r) {
    for (const QString& n : r.missing_names)
      if (!missing_names.contains(n)) missing_names << n;
    for (const QUrl& u : r.missing_urls)
      if (!missing_urls.contains(u)) missing_urls << u;
  };
  if (playlists_) {
    for (int i = 0; i < playlists_->size(); ++i) {
      Record playlist = playlists_->at(i);
      const QByteArray blob = playlist.value("movielist").toByteArray();
      if (auto it = relinked_.constFind(blob.constData()); it != relinked_.constEnd() && it->blob.size() == blob.size()) {
        report_missing(*it);
        relinked.insert(blob.constData(), *it);
        continue;
      }
      // Without pictures first: most playlists need none of them.
      auto readable = readable_items(playlist, false);
      if (!readable) continue;
      const RecordArray old_items = std::move(*readable);
      RecordArray items;
      Relinked result;
      bool changed = false, needs_pictures = false;
      for (const Record& old_item : old_items) {
        Record item = old_item;
        item[key::FILE_FOUND] = 0;
        const QString name = item.value(key::FILE_NAME).toString();
        if (name_count.value(name) == 1) {
          const Record& match = content[by_name.value(name)];
          Record copy = match;
          // Each image entry keeps its own display time; a movie of the same
          // name brings its own length.
          if (item.value(key::IS_IMG).toBool() && match.value(key::IS_IMG).toBool())
            copy[key::FILE_LENGTH] = read_integer(item.value(key::FILE_LENGTH).toString());
          item = copy;
        } else {
          needs_pictures = true;  // the item keeps its own thumbnail
          const QUrl url = item.value(key::FILE_URL).toUrl();
          if (!result.missing_names.contains(name)) result.missing_names << name;
          if (!result.missing_urls.contains(url)) result.missing_urls << url;
        }
        changed |= without_icon(item) != without_icon(old_item);
        items.append(item);
      }
      report_missing(result);
      if (changed) {
        if (needs_pictures) {
          const RecordArray full = decode_movielist(playlist);
          for (int k = 0; k < items.size() && k < full.size(); ++k)
            if (name_count.value(items[k].value(key::FILE_NAME).toString()) != 1)
              items[k][key::FILE_ICON] = full[k].value(key::FILE_ICON);
        }
        const QVariant movies = playlist.value("movies");
        store_movielist(playlist, items);
        if (movies.isValid()) playlist["movies"] = movies;
        playlists_->replace(i, playlist);
      }
      result.blob = playlist.value("movielist").toByteArray();
      relinked.insert(result.blob.constData(), result);
    }
  }
  relinked_ = std::move(relinked);
  bus_.post(note::PLAYLIST_DID_CHANGE, {});
  if (missing_names.isEmpty()) return;
  // Once ignored, the same missing files are not asked about again until
  // the folder changes or others go missing.
  const QSet<QString> missing(missing_names.begin(), missing_names.end());
  if (missing.isEmpty() || ignored_missing_.contains(missing)) return;
  QString text;
  for (const QString& name : missing_names) text += "\n" + name;
  text += "\n\nWhat do you want to do?";
  if (dialogs_.alert("Missing movie files!", text, {"Ignore", "Unlink"}) == 1) {
    for (const QUrl& url : missing_urls) unlink_file_at_url(url);
    bus_.post(note::PLAYLIST_DID_CHANGE, {});
  } else {
    ignored_missing_ += missing;
  }
}

}  // namespace tavri
