#include "published_file.h"

#include <QFile>
#include <QVariant>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/movielist.h"

namespace tavri {

namespace {
// The file's path in the content folder, or empty without a folder.
QString published_path(const QUrl& folder, const QString& file_name) {
  QString dir = folder.isLocalFile() ? folder.toLocalFile() : QString();
  if (dir.isEmpty()) return {};
  if (!dir.endsWith('/')) dir += '/';
  return dir + file_name;
}

// Without a content folder there is nowhere to publish; never guess one.
bool no_folder(const QString& file_name) {
  console_log(kSaveErrorTag);
  console_log(QString("no content folder for %1").arg(file_name));
  return false;
}

bool write_if_changed(const QString& path, const QByteArray& bytes, const QString& tag) {
  if (read_file(path) == bytes) {
    if (!tag.isEmpty()) console_log(tag);  // the file holds this state: as good as written
    return true;
  }
  return save_file_logged(path, bytes, tag);
}
}  // namespace

bool publish_file(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  const QString path = published_path(folder, file_name);
  return path.isEmpty() ? no_folder(file_name) : save_file_logged(path, bytes, tag);
}

bool publish_now(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) return no_folder(file_name);
  BackgroundWriter::instance().cancel(path);
  return write_if_changed(path, bytes, tag);
}

void publish_later(const QUrl& folder, const QString& file_name, std::function<QByteArray()> encode, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) {
    no_folder(file_name);
    return;
  }
  BackgroundWriter::instance().submit(path, [path, encode = std::move(encode), tag] { write_if_changed(path, encode(), tag); });
}

void unpublish_file(const QUrl& folder, const QString& file_name) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) return;
  BackgroundWriter::instance().cancel(path);
  if (!QFile::exists(path)) return;
  if (QFile::remove(path))
    console_log(QString("REMOVED FROM ROOT: %1").arg(file_name));
  else
    console_log(QString("REMOVE ERROR: %1").arg(path));
}

QByteArray playlist_file_bytes(const Record& playlist) {
  Record copy = playlist;
  const QVariantList items = published_items(playlist);
  copy["movielist"] = items;
  copy["movies"] = static_cast<int>(items.size());  // as the editor stores it before publishing
  return encode_root_archive(copy);
}

QString playlist_file_name(const QVariant& id) { return QString("PLAYLIST_ID_%1.SAV").arg(id.toLongLong()); }
QString schedule_file_name(const QVariant& id) { return QString("SCHEDULE_ID_%1.SAV").arg(id.toLongLong()); }

}  // namespace tavri
