#pragma once
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <optional>

namespace tavri::test {

// Decodes a keyed archive with Python's plistlib (tests/tools/unarchive.py),
// an independent reader of what we write; nothing when python3 is missing.
// error receives the reader's complaint when it refuses the file.
inline std::optional<QJsonObject> read_with_plistlib(const QString& path, QString* error = nullptr) {
  const QString python = QStandardPaths::findExecutable("python3");
  if (python.isEmpty()) return std::nullopt;
  QProcess p;
  p.start(python, {QStringLiteral(TAVRI_TESTS_DIR) + "/tools/unarchive.py", path});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) {
    if (error) *error = QString::fromUtf8(p.readAllStandardError());
    return QJsonObject{{"$error", true}};
  }
  return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

}  // namespace tavri::test
