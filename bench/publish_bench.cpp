// Publishing: 100 playlists of 50 items (with thumbnails) and 20 schedules
// of 30 tasks. Times one item move in a 50-item playlist, one rename and
// save of the playlist catalogue, and one save-all, each next to the time
// to encode the same records once in the same run (reference: "encode
// once"), and prints the size of the catalogue file.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
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

using namespace tavri;

namespace {

// A thumbnail that compresses like a picture: smooth shading and a label.
QImage thumbnail(int i) {
  QImage image(300, 169, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  QLinearGradient g(0, 0, 300, 169);
  g.setColorAt(0, QColor::fromHsv((i * 37) % 360, 200, 220));
  g.setColorAt(1, QColor::fromHsv((i * 37 + 120) % 360, 160, 90));
  p.fillRect(image.rect(), g);
  p.setPen(Qt::white);
  p.drawText(image.rect(), Qt::AlignCenter, QString("Clip %1").arg(i));
  return image;
}

Record item(int i, const QImage& icon) {
  return Record{{"file_name", QString("Clip %1").arg(i)},
                {"file_url", QUrl::fromLocalFile(QString("/srv/content/Clip %1.mp4").arg(i))},
                {"is_img", false},
                {"file_length", 30.0 + i},
                {"file_fps", "25.00"},
                {"file_size", "120.50 MB"},
                {"file_create", "2026-01-01 10:00"},
                {"file_change", "2026-01-01 10:00"},
                {"file_id", 1000 + i},
                {"file_found", 1},
                {"file_kind", "MPEG-4 movie"},
                {"file_tracks", 2},
                {"file_resolution", "1920 x 1080"},
                {"file_codec", "H.264"},
                {"file_icon", icon}};
}

double ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

void row(const char* what, double measured, double reference) {
  std::printf("%-40s %10.2f ms %14.2f ms %8.1f\n", what, measured, reference, measured / reference);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  qputenv("XDG_DOCUMENTS_DIR", (home.path() + "/Documents").toUtf8());
  QApplication app(argc, argv);
  QDir().mkpath(home.path() + "/Documents");
  QDir().mkpath(home.path() + "/content");

  Bus bus;
  test::ScriptedDialogs dialogs;
  Schedule schedule(bus, dialogs);
  Schedule_View schedule_view(bus, dialogs);
  FileList files(bus, dialogs);
  display_playlist editor(bus, dialogs);
  PlayList playlists(bus, dialogs);
  files.set_playlists(&playlists.ArrayController_PLAYLIST());
  editor.attach(&playlists, &files.ArrayController_FILELIST());
  schedule_view.attach(&schedule, &playlists, &files.ArrayController_FILELIST());
  playlists.set_users(&schedule_view);
  dialogs.open_answers.push_back(QStringList{home.path() + "/content"});
  files.press_select();

  std::vector<QImage> icons;
  for (int i = 0; i < 50; ++i) icons.push_back(thumbnail(i));
  RecordArray all_playlists;
  for (int p = 1; p <= 100; ++p) {
    RecordArray items;
    for (int i = 0; i < 50; ++i) items.append(item((p * 50 + i) % 500, icons[i]));
    Record playlist{{"id", p}, {"name", QString("Playlist %1").arg(p, 3, 10, QChar('0'))}};
    store_movielist(playlist, items);
    all_playlists.append(playlist);
  }
  RecordArray all_schedules;
  for (int s = 1; s <= 20; ++s) {
    QVariantList tasks;
    for (int t = 0; t < 30; ++t) {
      Record task = Schedule_View::new_task(QString("Task %1").arg(t), 1 + (s * 30 + t) % 100);
      task["time"] = QString("%1:00").arg(t % 24, 2, 10, QChar('0'));
      tasks.append(task);
    }
    all_schedules.append({{"id", s}, {"name", QString("Week %1").arg(s)}, {"tasks", 30}, {"tasklist", tasks}});
  }
  playlists.ArrayController_PLAYLIST().set_records(all_playlists);
  schedule.ArrayController_SCHEDULELIST().set_records(all_schedules);
  playlists.ArrayController_PLAYLIST().select_list_indices({0});
  schedule.ArrayController_SCHEDULELIST().select_list_indices({0});

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
  for (const Record& p : playlists.ArrayController_PLAYLIST().records()) encode_root_archive(decode_movielist(p).size() ? QVariant(published_items(p)) : QVariant());
  for (const Record& s : schedule.ArrayController_SCHEDULELIST().records()) encode_root_archive(s);
  row("save-all (100 playlists, 20 schedules)", save_all, ms(t));

  const QString catalogue = documents_folder() + "/" + kPlaylistFile;
  std::printf("playlist catalogue file: %.2f MB; published files: %lld\n", QFileInfo(catalogue).size() / 1e6,
              static_cast<long long>(QDir(home.path() + "/content").entryList({"*.SAV"}).size()));
  return 0;
}
