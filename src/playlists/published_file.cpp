#include "published_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QVariant>
#include <mutex>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/movielist.h"

namespace tavri {

namespace {
std::mutex observed_mutex;
std::function<void(const Published&)> observer;
PublishTotals totals;

// Timed from `clock`'s start: the encoding, when it is done here, and the write.
bool observed(const QString& path, bool ok, const QElapsedTimer& clock) {
  const Published p{QFileInfo(path).fileName(), ok, double(clock.nsecsElapsed()) / 1e9};
  // Told under the lock, so that once the observer is taken away no call
  // of it is still running.
  const std::lock_guard lock(observed_mutex);
  (ok ? totals.written : totals.failed) += 1;
  totals.seconds += p.seconds;
  if (observer) observer(p);
  return ok;
}

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

void set_publish_observer(std::function<void(const Published&)> tell) {
  const std::lock_guard lock(observed_mutex);
  observer = std::move(tell);
}

PublishTotals publish_totals() {
  const std::lock_guard lock(observed_mutex);
  return totals;
}

bool publish_file(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  QElapsedTimer clock;
  clock.start();
  const QString path = published_path(folder, file_name);
  return path.isEmpty() ? no_folder(file_name) : observed(path, save_file_logged(path, bytes, tag), clock);
}

bool publish_now(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) return no_folder(file_name);
  QElapsedTimer clock;
  clock.start();
  BackgroundWriter::instance().cancel(path);
  return observed(path, write_if_changed(path, bytes, tag), clock);
}

void publish_later(const QUrl& folder, const QString& file_name, std::function<QByteArray()> encode, const QString& tag) {
  const QString path = published_path(folder, file_name);
  if (path.isEmpty()) {
    no_folder(file_name);
    return;
  }
  BackgroundWriter::instance().submit(path, [path, encode = std::move(encode), tag] {
    QElapsedTimer clock;
    clock.start();
    observed(path, write_if_changed(path, encode(), tag), clock);
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

QByteArray playlist_file_bytes(const Record& playlist, const QDate& day) {
  Record copy = playlist;
  const QVariantList items = published_items(playlist, day);
  copy["movielist"] = items;
  copy["movies"] = static_cast<int>(items.size());  // as the editor stores it before publishing
  return encode_root_archive(copy);
}

QString playlist_file_name(const QVariant& id) { return QString("PLAYLIST_ID_%1.SAV").arg(id.toLongLong()); }
QString schedule_file_name(const QVariant& id) { return QString("SCHEDULE_ID_%1.SAV").arg(id.toLongLong()); }

}  // namespace tavri
