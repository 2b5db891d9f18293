// Folder scan: a folder of 200 generated 1080p movies and 200 stills.
// Prints items per second for a full scan built on worker threads, next to
// the same scan built on one thread in the same run (reference: "one
// thread"), and the size of a playlist catalogue holding all 400 items.
//   scan_bench [FOLDER]   (the folder is made with ffmpeg when not given)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "content/content_item.h"
#include "content/file_list.h"
#include "content/media_probe.h"
#include "content/folder_scan.h"
#include "core/catalogue_file.h"
#include "bench_data.h"

using namespace tavri;

namespace {

double items_per_second(const QUrl& folder, const QStringList& names, int threads, int* count) {
  QElapsedTimer timer;
  timer.start();
  const RecordArray items = build_content_items(folder, names, threads);
  *count = static_cast<int>(items.size());
  return items.size() / (timer.nsecsElapsed() / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir temp;
  QString dir = argc > 1 ? QString(argv[1]) : temp.path();
  if (argc <= 1) {
    std::printf("making 200 movies (1080p, 3 s) and 200 stills in %s ...\n", qPrintable(dir));
    if (!bench::make_media_folder(dir, 200, 200)) {
      std::fprintf(stderr, "ffmpeg could not make the folder\n");
      return 1;
    }
  }
  const QUrl folder = QUrl::fromLocalFile(dir + "/");
  const QStringList names = list_folder(dir);
  int parallel_count = 0, single_count = 0;
  // Warm the page cache so neither run pays for the first read.
  items_per_second(folder, names, 0, &parallel_count);
  const double single = items_per_second(folder, names, 1, &single_count);
  const double parallel = items_per_second(folder, names, 0, &parallel_count);
  std::printf("%-46s %10s\n", "scan of 400 items", "items/s");
  std::printf("%-46s %10.1f\n", "one thread (reference)", single);
  std::printf("%-46s %10.1f   ratio %.2f\n", qPrintable(QString("worker threads (%1)").arg(QThread::idealThreadCount())),
              parallel, parallel / single);

  Record playlist{{"id", 1}, {"name", "all"}};
  store_movielist(playlist, build_content_items(folder, names, 0));
  QTemporaryDir out;
  const QString file = out.path() + "/playlists.sav";
  save_catalogue(file, {playlist}, "");
  std::printf("playlist catalogue with all %d items: %.2f MB (%.1f KB per item)\n", parallel_count,
              QFileInfo(file).size() / 1e6, QFileInfo(file).size() / 1024.0 / std::max(1, parallel_count));
  for (const QString& name : names)
    if (name.endsWith(".mp4")) {
      std::printf("movie thumbnail as stored: %.1f KB\n", media_thumbnail(dir + "/" + name, kThumbSide).size() / 1024.0);
      break;
    }
  return parallel_count == 400 && single_count == 400 ? 0 : 1;
}
