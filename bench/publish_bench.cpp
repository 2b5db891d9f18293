// Publishing: 100 playlists of 50 items (with thumbnails) and 20 schedules
// of 30 tasks. Times one item move in a 50-item playlist, one rename and
// save of the playlist catalogue, and one save-all, each next to the time
// to encode the same records once in the same run (reference: "encode
// once"), and prints the size of the catalogue file.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "content/file_list.h"
#include "core/bus.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/movielist.h"
#include "core/notifications.h"
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"
#include "../tests/support/scripted_dialogs.h"
#include "bench_data.h"
#include "bench_editors.h"

using namespace tavri;

namespace {

double ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

void row(const char* what, double measured, double reference) {
  std::printf("%-40s %10.2f ms %14.2f ms %8.1f\n", what, measured, reference, measured / reference);
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
  Schedule& schedule = e.schedule;
  display_playlist& editor = e.editor;
  PlayList& playlists = e.playlists;

  std::printf("%-40s %13s %17s %8s\n", "operation", "time", "encode once", "ratio");
  QElapsedTimer t;

  // One move in a 50-item playlist; reference: encoding its items once.
  editor.ArrayController_DISPLAYLIST().select_list_indices({10});
  t.start();
  editor.MOVE_DOWN();
  const double move = ms(t);
  t.start();
  encode_root_archive(to_variant_list(editor.ArrayController_DISPLAYLIST().records()));
  row("move one item (50 items)", move, ms(t));

  // Rename and save; reference: encoding the catalogue once.
  dialogs.prompt_answers.push_back(QString("Renamed"));
  t.start();
  playlists.changeName();
  const double rename = ms(t);
  t.start();
  encode_archive({{"SPEICHER", to_variant_list(playlists.ArrayController_PLAYLIST().records())}});
  row("rename and save the catalogue", rename, ms(t));

  // Save-all; reference: encoding every playlist and schedule once.
  t.start();
  bus.post(note::SAVE_ALL_LISTS);
  const double save_all = ms(t);
  t.start();
  for (const Record& p : playlists.ArrayController_PLAYLIST().records()) encode_root_archive(decode_movielist(p).size() ? QVariant(published_items(p, QDate::currentDate())) : QVariant());
  for (const Record& s : schedule.ArrayController_SCHEDULELIST().records()) encode_root_archive(s);
  row("save-all (100 playlists, 20 schedules)", save_all, ms(t));

  const QString catalogue = documents_folder() + "/" + kPlaylistFile;
  std::printf("playlist catalogue file: %.2f MB; published files: %lld\n", QFileInfo(catalogue).size() / 1e6,
              static_cast<long long>(QDir(content_dir).entryList({"*.SAV"}).size()));
  return 0;
}
