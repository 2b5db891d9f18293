#pragma once
#include <QStringList>
#include <QHash>
#include <QObject>
#include <QUrl>
#include <atomic>
#include <functional>
#include <optional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/record.h"

namespace tavri {

// Names of the regular files directly inside the folder (links followed),
// hidden ones included, in the order the file system lists them; none when
// it cannot be read.
QStringList list_folder(const QString& path);

// What identifies an unchanged file: a file with the same inode, size and
// modification time as when its item was built is not probed again.
struct FileFingerprint {
  quint64 inode = 0;
  qint64 size = -1;
  qint64 mtime_ns = 0;
  bool operator==(const FileFingerprint&) const = default;
};
// The fingerprint of a file, or none when it cannot be looked at.
std::optional<FileFingerprint> fingerprint_of(const QString& path);

// Items already built, by path, with the fingerprint they were built for.
struct KnownItem {
  FileFingerprint print;
  Record item;
};
using KnownItems = QHash<QString, KnownItem>;

// Progress and cancel, shared with the threads of one scan.
struct ScanControl {
  std::atomic<int> done{0};
  std::atomic<int> probed{0};  // items actually built (the rest were known)
  std::atomic<bool> cancelled{false};
};

// The content items of the named entries: all movies, then all images, then
// all streams, each group in the order of names. Built on `threads` worker
// threads (0: one per core); the result is the same for any count. Known
// items whose files are unchanged are taken as they are; `built` receives
// the items of this scan by path. Nothing when cancelled.
std::optional<RecordArray> build_content_items(const QUrl& folder, const QStringList& names, int threads,
                                               const KnownItems& known, KnownItems* built, ScanControl* control);
RecordArray build_content_items(const QUrl& folder, const QStringList& names, int threads = 0);

// One scan on a thread of its own, so the window stays live; the result is
// delivered on the context's thread unless the scan was cancelled first.
class FolderScanJob {
 public:
  using Done = std::function<void(RecordArray items, KnownItems built)>;
  FolderScanJob(QUrl folder, QStringList names, KnownItems known, int threads);
  ~FolderScanJob();  // cancels and joins
  void start(QObject* context, Done done);
  // After this returns, nothing more is delivered to the context.
  void cancel();
  // Cancels and lets the job end on a thread of its own: a probe that hangs
  // on a file holds up nobody who waits for it.
  static void retire(std::unique_ptr<FolderScanJob> job);
  int total() const { return total_; }
  int done() const { return control_.done; }
  int probed() const { return control_.probed; }

 private:
  QUrl folder_;
  QStringList names_;
  KnownItems known_;
  int threads_;
  int total_ = 0;
  ScanControl control_;
  std::mutex deliver_mutex_;  // a result is posted, or the job is cancelled, never both
  std::thread thread_;
};

}  // namespace tavri
