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
}  // namespace

bool publish_file(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) {
    // Without a content folder there is nowhere to publish; never guess one.
    console_log(kSaveErrorTag);
    console_log(QString("no content folder for %1").arg(file_name));
    return false;
  }
  return save_file_logged(path, bytes, tag);
}

namespace {
bool publish_if_changed(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (!path.isEmpty() && read_file(path) == bytes) {
    if (!tag.isEmpty()) console_log(tag);  // the file holds this state: as good as written
    return true;
  }
  return publish_file(folder, file_name, bytes, tag);
}
}  // namespace

bool publish_now(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (!path.isEmpty()) BackgroundWriter::instance().cancel(path);
  return publish_if_changed(folder, file_name, bytes, tag);
}

void publish_later(const QUrl& folder, const QString& file_name, std::function<QByteArray()> encode, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) {
    publish_file(folder, file_name, {}, tag);  // logs that there is no folder
    return;
  }
  BackgroundWriter::instance().submit(path, [folder, file_name, encode = std::move(encode), tag] {
    publish_if_changed(folder, file_name, encode(), tag);
  });
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
