#pragma once
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QUrl>
#include <functional>

#include "core/record.h"

namespace tavri {

// Writes a published file (a playlist or schedule file) atomically, directly
// in the server root folder; logs tag, or "SAVE ERROR !!!!!" when there is
// no folder or the write fails.
bool publish_file(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag);

// Writes the file now, and only when it is missing or holds other bytes, so
// that a file that is already right keeps its modification time. A write of
// the same file still queued in the background is dropped first: it holds
// an older state.
bool publish_now(const QUrl& folder, const QString& file_name, const QByteArray& bytes, const QString& tag);
// The same on the background writer; encode runs there, on snapshots.
void publish_later(const QUrl& folder, const QString& file_name, std::function<QByteArray()> encode, const QString& tag);
// Removes a published file whose record is gone; logs what it removed.
void unpublish_file(const QUrl& folder, const QString& file_name);

// The bytes of a playlist's published file on `day`: the record with its
// items as a plain list, thumbnails replaced by "KEIN BILD".
QByteArray playlist_file_bytes(const Record& playlist, const QDate& day);

inline constexpr char kPlaylistPublishTag[] = "SAVE PLAYLIST TO ROOT !!!!!";
inline constexpr char kSchedulePublishTag[] = "SAVE SCHEDULE TO ROOT !!!!!";

// Each published file written (or found already right) or failed, from
// whichever thread wrote it: for the API's events and metrics. Set once,
// at start; the observer must be callable from any thread.
struct Published {
  QString file;
  bool ok = false;
  double seconds = 0;  // to encode and write it
};
void set_publish_observer(std::function<void(const Published&)> observer);
struct PublishTotals {
  quint64 written = 0, failed = 0;
  double seconds = 0;
};
PublishTotals publish_totals();

QString playlist_file_name(const QVariant& id);
QString schedule_file_name(const QVariant& id);

}  // namespace tavri
