#include "folder_scan.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <optional>
#include <thread>
#include <vector>

#include "core/main_queue.h"
#include "content_item.h"
#include "media_probe.h"

namespace tavri {

QStringList list_folder(const QString& path) {
  QStringList names;
  DIR* dir = ::opendir(QFile::encodeName(path).constData());
  if (!dir) return names;
  const int fd = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    const QString name = QFile::decodeName(entry->d_name);
    if (name == "." || name == "..") continue;
    // Regular files only (links followed): opening a FIFO or a device
    // under a content name would hang the scan.
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)) names << name;
  }
  ::closedir(dir);
  return names;
}

std::optional<FileFingerprint> fingerprint_of(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
  return FileFingerprint{static_cast<quint64>(st.st_ino), static_cast<qint64>(st.st_size),
                         static_cast<qint64>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::optional<RecordArray> build_content_items(const QUrl& folder, const QStringList& names, int threads,
                                               const KnownItems& known, KnownItems* built, ScanControl* control) {
  QString base = folder.toLocalFile();
  if (!base.endsWith('/')) base += '/';
  struct Task {
    ContentKind kind;
    QString path;
    std::optional<Record> item;
    std::optional<FileFingerprint> print;
    bool probed_whole = true;
  };
  std::vector<Task> tasks;
  for (ContentKind pass : {ContentKind::movie, ContentKind::image, ContentKind::stream})
    for (const QString& name : names)
      if (content_kind_of(name) == pass) tasks.push_back({pass, base + name, std::nullopt, std::nullopt});

  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < tasks.size();) {
      if (control && control->cancelled) return;
      Task& task = tasks[i];
      task.print = fingerprint_of(task.path);
      auto it = known.constFind(task.path);
      if (task.print && it != known.constEnd() && it->print == *task.print) {
        task.item = it->item;
      } else {
        task.item = item_for_kind(task.kind, QUrl::fromLocalFile(task.path));
        task.probed_whole = task.kind != ContentKind::movie || !last_media_probe_failed();
        if (control) ++control->probed;
      }
      if (control) ++control->done;
    }
  };
  const int count = std::max(1, std::min<int>(threads > 0 ? threads : QThread::idealThreadCount(),
                                              static_cast<int>(tasks.size())));
  std::vector<std::thread> workers;
  for (int i = 1; i < count; ++i) workers.emplace_back(work);
  work();
  for (auto& w : workers) w.join();
  if (control && control->cancelled) return std::nullopt;

  RecordArray items;
  for (auto& task : tasks) {
    if (!task.item) continue;
    if (built && task.print && task.probed_whole) built->insert(task.path, {*task.print, *task.item});
    items.append(std::move(*task.item));
  }
  return items;
}

RecordArray build_content_items(const QUrl& folder, const QStringList& names, int threads) {
  return *build_content_items(folder, names, threads, {}, nullptr, nullptr);
}

FolderScanJob::FolderScanJob(QUrl folder, QStringList names, KnownItems known, int threads)
    : folder_(std::move(folder)), names_(std::move(names)), known_(std::move(known)), threads_(threads) {
  for (const QString& name : names_)
    if (content_kind_of(name) != ContentKind::none) ++total_;
}

FolderScanJob::~FolderScanJob() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void FolderScanJob::cancel() {
  std::lock_guard lock(deliver_mutex_);
  control_.cancelled = true;
}

void FolderScanJob::retire(std::unique_ptr<FolderScanJob> job) {
  if (!job) return;
  job->cancel();
  std::thread([old = std::move(job)]() mutable { old.reset(); }).detach();
}

// The context is cancelled before it goes (its owner cancels its job), and
// what was posted to it goes with it, so it is alive whenever this posts.
void FolderScanJob::start(QObject* context, Done done) {
  thread_ = std::thread([this, context, done = std::move(done)] {
    KnownItems built;
    auto items = build_content_items(folder_, names_, threads_, known_, &built, &control_);
    std::lock_guard lock(deliver_mutex_);
    if (!items || control_.cancelled) return;
    post_to(context, [done, items = std::move(*items), built = std::move(built)]() mutable {
      done(std::move(items), std::move(built));
    });
  });
}

}  // namespace tavri
