// How long the operator waits: the real controllers with a main-thread
// latency probe (a 10 ms timer that records how late it fires). Each row is
// an operation as the application runs it now, next to the same operation
// done the blocking way in the same run (reference): the work finished on
// the main thread before the event loop runs again.
//   responsiveness_bench [FOLDER]  (a 2000-item folder is made with ffmpeg when not given)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include "stall_probe.h"
#include <cstdio>
#include <functional>

#include "bench_data.h"
#include "bench_editors.h"
#include "content/file_list.h"
#include "content/folder_scan.h"
#include "core/background_writer.h"
#include "core/bus.h"
#include "core/notifications.h"
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"
#include "../tests/support/scripted_dialogs.h"

using namespace tavri;

using tavri::bench::StallProbe;

namespace {


struct Measure {
  double wall_ms;
  double stall_ms;
};

// Starts the operation, then runs the event loop until done() holds.
Measure measure(const std::function<void()>& operation, const std::function<bool()>& done) {
  StallProbe probe(false);
  probe.start();
  QCoreApplication::processEvents();
  QElapsedTimer wall;
  wall.start();
  operation();
  // Waits as the application does, asleep between events, so that the
  // workers have the cores.
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  check.start(5);
  if (!done()) loop.exec();
  const double wall_ms = wall.nsecsElapsed() / 1e6;
  QCoreApplication::processEvents();
  return {wall_ms, probe.stop()};
}

bool writer_idle() { return BackgroundWriter::instance().wait_idle(0); }

// Lets the autosaves and relinks that an operation leaves behind run out
// before the next row is measured.
void settle() {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 2600) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  BackgroundWriter::instance().wait_idle(600000);
}

void row(const char* what, Measure now, Measure blocking) {
  std::printf("%-34s %9.1f ms %9.1f ms   | %9.1f ms %9.1f ms\n", what, now.wall_ms, now.stall_ms, blocking.wall_ms,
              blocking.stall_ms);
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir home;
  const QString content_dir = bench::fresh_home(home);
  QApplication app(argc, argv);

  bench::Editors e(content_dir);
  e.fill_catalogues();
  Bus& bus = e.bus;
  test::ScriptedDialogs& dialogs = e.dialogs;
  FileList& files = e.files;
  display_playlist& editor = e.editor;
  PlayList& playlists = e.playlists;
  BackgroundWriter::instance().wait_idle(600000);

  std::printf("%-34s %12s %12s   | %12s %12s\n", "operation (100 x 50, 20 x 30)", "wall", "longest stall",
              "blocking wall", "its stall");
  auto blocking = [](const std::function<void()>& op) {
    return measure([op] { op(); BackgroundWriter::instance().wait_idle(600000); }, [] { return true; });
  };

  auto rename = [&](const char* name) {
    dialogs.prompt_answers.push_back(QString(name));
    playlists.changeName();
  };
  settle();
  const Measure rename_now = measure([&] { rename("Renamed A"); }, writer_idle);
  settle();
  row("rename and save", rename_now, blocking([&] { rename("Renamed B"); }));
  settle();

  auto move = [&] {
    editor.ArrayController_DISPLAYLIST().select_list_indices({10});
    editor.MOVE_DOWN();
  };
  const Measure move_now = measure(move, writer_idle);
  settle();
  row("move one item", move_now, blocking(move));
  settle();

  auto save_all = [&] { bus.post(note::SAVE_ALL_LISTS); };
  const Measure save_all_now = measure(save_all, writer_idle);
  settle();
  row("save-all", save_all_now, blocking(save_all));
  settle();

  // The folder: given, or made now.
  QTemporaryDir media;
  const QString dir = argc > 1 ? QString(argv[1]) : media.path();
  if (argc <= 1) {
    std::printf("making 1000 movies and 1000 stills in %s ...\n", qPrintable(dir));
    if (!bench::make_media_folder(dir, 1000, 1000, 1)) return 1;
  }
  const QUrl folder = QUrl::fromLocalFile(dir + "/");
  const QStringList names = list_folder(dir);
  build_content_items(folder, names, 0);  // warm the page cache for both
  dialogs.open_answers.push_back(QStringList{dir});
  dialogs.alert_answers.push_back(0);
  // A scan is done when its list is in and the relink that follows it has run.
  int relinks = 0;
  QObject::connect(&playlists.ArrayController_PLAYLIST(), &RecordList::changed, [&] { ++relinks; });
  bus.register_observer(&relinks, note::PLAYLIST_DID_CHANGE, [&](const QVariant&) { ++relinks; });
  auto scanned_and_relinked = [&] {
    relinks = 0;
    return [&] { return !files.scanning() && relinks > 0; };
  };
  const Measure scan = measure([&] { files.press_select(); }, scanned_and_relinked());
  settle();
  const Measure scan_blocking = measure([&] { build_content_items(folder, names, 0); }, [] { return true; });
  row("scan of 2000 items + relink", scan, scan_blocking);
  settle();
  const Measure rescan = measure([&] { files.rescan_Folder(); }, scanned_and_relinked());
  row("rescan, unchanged + relink", rescan, scan_blocking);
  std::printf("items in the list: %d\n", files.ArrayController_FILELIST().size());
  BackgroundWriter::instance().wait_idle(600000);
  return 0;
}
