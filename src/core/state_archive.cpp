#include "core/state_archive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <vector>

#include "core/catalogue_file.h"
#include "core/folders.h"
#include "core/keyed_archive.h"

namespace tavri::state_archive {

namespace {

constexpr int kBlock = 512;
constexpr qint64 kLargest = qint64(4) << 30;

void put_octal(char* field, int width, qint64 value) {
  // Width-1 digits and a NUL, as every tar reads.
  const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
  memcpy(field, digits.constData(), static_cast<std::size_t>(width - 1));
  field[width - 1] = 0;
}

std::optional<qint64> octal(const char* field, int width) {
  qint64 value = 0;
  int i = 0;
  while (i < width && field[i] == ' ') ++i;
  int digits = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) value = value * 8 + (field[i] - '0');
  if (digits == 0 || digits > 11) return std::nullopt;
  for (; i < width; ++i)
    if (field[i] != 0 && field[i] != ' ') return std::nullopt;
  return value;
}

unsigned checksum(const char* header) {
  unsigned sum = 0;
  for (int i = 0; i < kBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
  return sum;
}

// Far beyond any real site, and small enough to check in seconds: a
// backup past them is refused before it is decoded.
constexpr qsizetype kLargestArchiveFile = qsizetype(64) << 20;  // a catalogue or the registry
constexpr qsizetype kMostRecords = 100000;

// Whether a file's bytes are what its name says.
QString problem_of(const Entry& e) {
  // The live history keeps itself under 256 MiB.
  if (e.name.endsWith(kHistoryFile) && e.bytes.size() > (qsizetype(768) << 20))
    return "too large: more than 768 MiB";
  if (e.name.endsWith(kHistoryFile))
    return e.bytes.startsWith(QByteArray("SQLite format 3\0", 16)) ? QString() : "not an SQLite database";
  if (e.name.endsWith(kFolderFile)) {
    const QUrl url = QUrl::fromEncoded(e.bytes);
    return e.bytes.size() <= 4096 && url.isValid() && url.isLocalFile() ? QString() : "not a folder's address";
  }
  if (e.bytes.size() > kLargestArchiveFile)
    return QString("too large: more than %1 MiB").arg(kLargestArchiveFile >> 20);
  // Read entry by entry at start; what breaks a rule there is left out.
  if (e.name.endsWith(kGroupsFile))
    return QJsonDocument::fromJson(e.bytes).isObject() ? QString() : "not a groups file (JSON)";
  QString why;
  const auto top = decode_archive(e.bytes, &why, false);
  if (!top) return "does not decode: " + why;
  if (top->value(kCatalogueKey).toList().size() > kMostRecords)
    return QString("too large: more than %1 records").arg(kMostRecords);
  return {};
}

}  // namespace

QStringList entry_names() {
  return {QString("documents/") + kFolderFile, QString("documents/") + kPlaylistFile,
          QString("documents/") + kScheduleFile, QString("application/") + kRegistryFile,
          QString("application/") + kGroupsFile, history_entry_name()};
}

QString history_entry_name() { return QString("application/") + kHistoryFile; }

QString path_of(const QString& entry_name) {
  const QString file = entry_name.section('/', 1);
  return (entry_name.startsWith("documents/") ? documents_folder() : application_folder()) + "/" + file;
}

QByteArray write(const QList<Entry>& entries, qint64 mtime_s) {
  QByteArray out;
  for (const Entry& e : entries) {
    char header[kBlock] = {};
    const QByteArray name = e.name.toUtf8();
    memcpy(header, name.constData(), static_cast<std::size_t>(std::min<qsizetype>(name.size(), 99)));
    put_octal(header + 100, 8, 0600);
    put_octal(header + 108, 8, 0);
    put_octal(header + 116, 8, 0);
    put_octal(header + 124, 12, e.bytes.size());
    put_octal(header + 136, 12, mtime_s);
    header[156] = '0';
    memcpy(header + 257, "ustar\0" "00", 8);
    put_octal(header + 148, 7, checksum(header));
    header[155] = ' ';
    out.append(header, kBlock);
    out.append(e.bytes);
    out.append(QByteArray((kBlock - e.bytes.size() % kBlock) % kBlock, '\0'));
  }
  return out.append(QByteArray(2 * kBlock, '\0'));
}

std::optional<QList<Entry>> read(const QByteArray& archive, QString* error) {
  auto fail = [&](const QString& why) -> std::optional<QList<Entry>> {
    if (error) *error = why;
    return std::nullopt;
  };
  const QStringList known = entry_names();
  QList<Entry> entries;
  qsizetype at = 0;
  while (true) {
    if (archive.size() - at < kBlock) return fail("the archive ends inside a header");
    const char* header = archive.constData() + at;
    if (std::all_of(header, header + kBlock, [](char c) { return c == 0; })) break;  // the end
    const auto sum = octal(header + 148, 8);
    if (!sum || *sum != checksum(header)) return fail(QString("a header at byte %1 is damaged").arg(at));
    const QString name = QString::fromUtf8(header, static_cast<qsizetype>(strnlen(header, 100)));
    if (!known.contains(name)) return fail(QString("\"%1\" is not a file of a backup").arg(name));
    if (std::any_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; }))
      return fail(QString("\"%1\" is in the archive twice").arg(name));
    if (header[156] != '0' && header[156] != 0) return fail(QString("\"%1\" is not a plain file").arg(name));
    const auto size = octal(header + 124, 12);
    if (!size || *size > kLargest || *size > archive.size() - at - kBlock)
      return fail(QString("\"%1\" is cut short").arg(name));
    Entry e{name, archive.mid(at + kBlock, *size)};
    if (const QString problem = problem_of(e); !problem.isEmpty())
      return fail(problem.startsWith("too large") ? QString("too large: \"%1\": %2").arg(name, problem.mid(11))
                                                  : QString("\"%1\": %2").arg(name, problem));
    entries.append(std::move(e));
    at += kBlock + (*size + kBlock - 1) / kBlock * kBlock;
  }
  if (entries.isEmpty()) return fail("the archive holds no saved state");
  return entries;
}

namespace {
HistoryRebuild& history_rebuild() {
  static HistoryRebuild rebuild;
  return rebuild;
}
}  // namespace

void set_history_rebuild(HistoryRebuild rebuild) { history_rebuild() = std::move(rebuild); }

bool rebuild_history(QList<Entry>& entries, QString* error) {
  const HistoryRebuild rebuild = history_rebuild();
  for (Entry& e : entries) {
    if (e.name != history_entry_name() || !rebuild) continue;
    // Through files: the database is read and made where SQLite wants it.
    QTemporaryDir dir;
    const QString source = dir.filePath("backup.sqlite"), target = dir.filePath("rebuilt.sqlite");
    QFile in(source);
    if (!dir.isValid() || !in.open(QIODevice::WriteOnly) || in.write(e.bytes) != e.bytes.size() || !in.flush()) {
      if (error) *error = "the history cannot be checked: no room for a temporary copy";
      return false;
    }
    in.close();
    if (const QString why = rebuild(source, target); !why.isEmpty()) {
      if (error) *error = why.startsWith("too large") ? "too large: the history: " + why.mid(11) : "the history: " + why;
      return false;
    }
    const auto rebuilt = read_file(target);
    if (!rebuilt) {
      if (error) *error = "the history cannot be checked";
      return false;
    }
    e.bytes = *rebuilt;
  }
  return true;
}

bool restore(const QByteArray& archive, QString* error) {
  auto entries = read(archive, error);
  if (!entries || !rebuild_history(*entries, error)) return false;
  // Every file is written beside its place first; only when all are whole
  // do they take their places.
  std::vector<std::unique_ptr<QSaveFile>> files;
  for (const Entry& e : *entries) {
    auto& file = files.emplace_back(std::make_unique<QSaveFile>(path_of(e.name)));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file->write(e.bytes) != e.bytes.size()) {
      if (error) *error = QString("%1: %2").arg(file->fileName(), file->errorString());
      for (auto& f : files) f->cancelWriting();
      return false;
    }
  }
  bool all = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const QString& name = (*entries)[static_cast<qsizetype>(i)].name;
    if (name.endsWith(kRegistryFile)) {
      // The registry's working copy is read first when it is newer: the
      // restored registry must be the only one.
      QFile::remove(registry_working_copy_path());
    }
    if (name.endsWith(kHistoryFile)) {
      // A journal left by the old database would be replayed into the new one.
      QFile::remove(files[i]->fileName() + "-wal");
      QFile::remove(files[i]->fileName() + "-shm");
    }
    if (!files[i]->commit()) {
      // A rename refused after every write succeeded: said, never taken for a restore.
      all = false;
      if (error) *error = QString("%1: %2").arg(files[i]->fileName(), files[i]->errorString());
    }
  }
  return all;
}

QString staged_path() { return application_folder() + "/tavri_AV_SERVER_RESTORE.tar"; }

bool apply_staged(QString* error, bool* applied) {
  *applied = false;
  const QString path = staged_path();
  // Uploads a stop cut short before they were checked.
  const QFileInfo staged(path);
  for (const QString& left : QDir(staged.absolutePath()).entryList({staged.fileName() + ".*.upload"}, QDir::Files))
    QFile::remove(staged.absolutePath() + "/" + left);
  if (!QFile::exists(path)) return true;
  const auto bytes = read_file(path);
  QString why = "it cannot be read";
  if (bytes && restore(*bytes, &why)) {
    QFile::remove(path);
    *applied = true;
    return true;
  }
  if (error) *error = QString("%1: %2; kept as %3").arg(path, why, keep_damaged_copy(path));
  QFile::remove(path);
  return false;
}

}  // namespace tavri::state_archive
