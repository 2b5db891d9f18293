#include "published_file.h"

#include <QVariant>

#include "core/console.h"
#include "core/folders.h"

namespace tavri {

bool publish_file(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag) {
  QString dir = folder.isLocalFile() ? folder.toLocalFile() : QString();
  if (dir.isEmpty()) {
    // Without a content folder there is nowhere to publish; never guess one.
    console_log(kSaveErrorTag);
    console_log(QString("no content folder for %1").arg(file_name));
    return false;
  }
  if (!dir.endsWith('/')) dir += '/';
  return save_file_logged(dir + file_name, bytes, tag);
}

QString playlist_file_name(const QVariant& id) { return QString("PLAYLIST_ID_%1.SAV").arg(id.toLongLong()); }
QString schedule_file_name(const QVariant& id) { return QString("SCHEDULE_ID_%1.SAV").arg(id.toLongLong()); }

}  // namespace tavri
