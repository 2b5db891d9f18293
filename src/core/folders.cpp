#include "folders.h"

#include <QDateTime>
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

QString registry_working_copy_path() { return app_support_folder() + "/" + kTempFolder + "/" + kRegistryWorkingCopy; }

std::optional<QString> write_file_atomically(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  // Unbuffered, so that a full disk fails the write itself: a buffered
  // write only fills memory, and the failing flush at commit would still
  // rename a short file over the old one.
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return file.errorString();
  auto fail = [&file] {
    const QString error = file.errorString();
    file.cancelWriting();
    return error;
  };
  qint64 written = 0;
  while (written < bytes.size()) {
    const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
    if (n <= 0) return fail();
    written += n;
  }
  if (!file.flush() || file.error() != QFileDevice::NoError) return fail();
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

QString keep_damaged_copy(const QString& path) {
  // Each damaged load keeps its own copy: a later one must not replace it.
  const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
  QString copy = QString("%1.damaged-%2").arg(path, stamp);
  for (int n = 2; QFile::exists(copy); ++n) copy = QString("%1.damaged-%2-%3").arg(path, stamp).arg(n);
  if (QFile::copy(path, copy)) {
    console_log(QString("DAMAGED FILE KEPT AS: %1").arg(copy));
    return copy;
  }
  console_log(QString("DAMAGED FILE: %1").arg(path));
  return {};
}

}  // namespace tavri
