#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// A backup of the saved state: the catalogues, the content folder's name,
// the registry and the history, in one tar archive (ustar) that common
// tools read. A restore takes only the files it knows, each checked.
namespace tavri::state_archive {

struct Entry {
  QString name;  // "documents/…" or "application/…"
  QByteArray bytes;
};

// The names a backup holds, each with the folder it belongs in.
QStringList entry_names();
// The history's: a copy the database makes, not its file.
QString history_entry_name();
QString path_of(const QString& entry_name);

QByteArray write(const QList<Entry>& entries, qint64 mtime_s);
// Every entry, or nothing with the reason: an unknown or repeated name, a
// bad header, a file that is not what its name says.
std::optional<QList<Entry>> read(const QByteArray& archive, QString* error);

// How a backup's history is made anew (its rows copied into a fresh file
// of the server's own schema): source file, new file; the error or empty.
// Set at start-up by whoever owns the history.
using HistoryRebuild = std::function<QString(const QString& source, const QString& target)>;
void set_history_rebuild(HistoryRebuild rebuild);
// The history entry among `entries` replaced by its rebuilt copy (nothing
// to do without one, or without a rebuild set); false with the reason.
bool rebuild_history(QList<Entry>& entries, QString* error);

// Replaces the saved state with an archive's files, each written whole;
// the history's journal goes with its old file. Run before anything loads.
// Nothing is replaced when the archive does not read.
bool restore(const QByteArray& archive, QString* error);

// Where a restore waits for the next start, beside the saved state.
QString staged_path();
// Applies and removes a staged restore; false (the file kept aside, the
// reason in `error`) when it is bad. True when there is none.
bool apply_staged(QString* error, bool* applied);

}  // namespace tavri::state_archive
