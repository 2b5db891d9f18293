#pragma once
#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tavri {

// Writes a published file (a playlist or schedule file) atomically, directly
// in the server root folder; logs tag, or "SAVE ERROR !!!!!" when there is
// no folder or the write fails.
bool publish_file(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag);

QString playlist_file_name(const QVariant& id);
QString schedule_file_name(const QVariant& id);

}  // namespace tavri
