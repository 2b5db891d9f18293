// The content library and the playlist and schedule editors, wired as the
// application wires them, on a content folder: what the publishing
// benchmarks drive.
#pragma once
#include <QCoreApplication>

#include "../tests/support/scripted_dialogs.h"
#include "bench_data.h"
#include "content/file_list.h"
#include "core/bus.h"
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"

namespace tavri::bench {

struct Editors {
  explicit Editors(const QString& content_folder) {
    files.set_playlists(&playlists.ArrayController_PLAYLIST());
    editor.attach(&playlists, &files.ArrayController_FILELIST());
    schedule_view.attach(&schedule, &playlists, &files.ArrayController_FILELIST());
    playlists.set_users(&schedule_view);
    dialogs.open_answers.push_back(QStringList{content_folder});
    files.press_select();
    while (files.scanning()) QCoreApplication::processEvents();
  }
  // The real-sized catalogues of bench_data.h, the first of each selected.
  void fill_catalogues() {
    playlists.ArrayController_PLAYLIST().set_records(bench::playlists());
    schedule.ArrayController_SCHEDULELIST().set_records(bench::schedules());
    playlists.ArrayController_PLAYLIST().select_list_indices({0});
    schedule.ArrayController_SCHEDULELIST().select_list_indices({0});
  }
  Bus bus;
  test::ScriptedDialogs dialogs;
  Schedule schedule{bus, dialogs};
  Schedule_View schedule_view{bus, dialogs};
  FileList files{bus, dialogs};
  display_playlist editor{bus, dialogs};
  PlayList playlists{bus, dialogs};
};

}  // namespace tavri::bench
