#include "folders.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "console.h"

namespace tavri {

QString documents_folder() {
  // A fresh account may have no documents folder yet; without it nothing
  // could be saved.
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  QDir().mkpath(dir);
  return dir;
}

QString app_support_folder() {
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  QDir().mkpath(dir);
  return dir;
}

QString application_folder() { return app_support_folder() + "/" + kApplicationFolder; }

std::optional<QString> write_file_atomically(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  if (file.write(bytes) != bytes.size()) {
    const QString error = file.errorString();
    file.cancelWriting();
    return error;
  }
  if (!file.commit()) return file.errorString();
  return std::nullopt;
}

bool save_file_logged(const QString& path, const QByteArray& bytes, const QString& save_tag) {
  if (auto error = write_file_atomically(path, bytes)) {
    console_log(kSaveErrorTag);
    console_log(*error);
    return false;
  }
  if (!save_tag.isEmpty()) console_log(save_tag);
  return true;
}

std::optional<QByteArray> read_file(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

void keep_damaged_copy(const QString& path) {
  const QString copy = path + ".damaged";
  QFile::remove(copy);
  if (QFile::copy(path, copy))
    console_log(QString("DAMAGED FILE KEPT AS: %1").arg(copy));
  else
    console_log(QString("DAMAGED FILE: %1").arg(path));
}

}  // namespace tavri
