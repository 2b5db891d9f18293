#include "folder_scan.h"

#include <QFile>
#include <QThread>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <optional>
#include <thread>
#include <vector>

#include "content_item.h"

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

RecordArray build_content_items(const QUrl& folder, const QStringList& names, int threads) {
  QString base = folder.toLocalFile();
  if (!base.endsWith('/')) base += '/';
  struct Task {
    ContentKind kind;
    QUrl url;
    std::optional<Record> item;
  };
  std::vector<Task> tasks;
  for (ContentKind pass : {ContentKind::movie, ContentKind::image, ContentKind::stream})
    for (const QString& name : names)
      if (content_kind_of(name) == pass) tasks.push_back({pass, QUrl::fromLocalFile(base + name), std::nullopt});

  named_image("tavri_icon_send");  // artwork drawn once, before the workers share it
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < tasks.size();) tasks[i].item = item_for_kind(tasks[i].kind, tasks[i].url);
  };
  const int count = std::max(1, std::min<int>(threads > 0 ? threads : QThread::idealThreadCount(),
                                              static_cast<int>(tasks.size())));
  std::vector<std::thread> workers;
  for (int i = 1; i < count; ++i) workers.emplace_back(work);
  work();
  for (auto& w : workers) w.join();

  RecordArray items;
  for (auto& task : tasks)
    if (task.item) items.append(std::move(*task.item));
  return items;
}

}  // namespace tavri
