// Builds every window on real controllers with demonstration data and saves
// one PNG per window: window_shots OUTPUT_FOLDER [HOME]. With HOME the saved
// state stays there for a later start of the application. Run it through
// scripts/screenshots.sh (Xvfb, private network namespace): its controllers
// use the real ports.
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QAbstractButton>
#include <QPushButton>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "app/controllers.h"
#include "core/bus.h"
#include "core/notifications.h"
#include "ui/named_images.h"
#include "players/player_map.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"
#include "../tests/support/scripted_dialogs.h"
#include "../tests/support/fresh_home.h"

using namespace tavri;

namespace {

void spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void make_media(const QString& folder) {
  auto ffmpeg = [&](const QStringList& args) {
    QProcess p;
    p.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    p.waitForFinished(60000);
  };
  ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25", "-f", "lavfi", "-i", "sine", "-t", "3", "-c:v",
          "mpeg4", "-c:a", "aac", "-shortest", folder + "/Lobby Loop.mp4"});
  ffmpeg({"-f", "lavfi", "-i", "smptebars=size=1920x1080:rate=30", "-t", "2", "-c:v", "mpeg4", folder + "/Bars.mov"});
  QImage still(1920, 1080, QImage::Format_RGB32);
  QPainter p(&still);
  QLinearGradient g(0, 0, 1920, 1080);
  g.setColorAt(0, QColor(20, 60, 120));
  g.setColorAt(1, QColor(200, 120, 40));
  p.fillRect(still.rect(), g);
  p.setPen(Qt::white);
  p.setFont(QFont("DejaVu Sans", 120));
  p.drawText(still.rect(), Qt::AlignCenter, "WELCOME");
  p.end();
  still.save(folder + "/Welcome.jpg");
  QFile stream(folder + "/Radio.stream");
  stream.open(QIODevice::WriteOnly);
  stream.write("http://radio.invalid/live");
}

QImage floor_plan() {
  QImage plan(1200, 800, QImage::Format_RGB32);
  plan.fill(QColor(230, 230, 225));
  QPainter p(&plan);
  p.setPen(QPen(QColor(90, 90, 90), 6));
  p.drawRect(20, 20, 1160, 760);
  p.drawLine(600, 20, 600, 500);
  p.drawLine(20, 500, 900, 500);
  p.setFont(QFont("DejaVu Sans", 28));
  p.drawText(QRect(40, 40, 500, 60), "LOBBY");
  p.drawText(QRect(640, 40, 500, 60), "FOYER");
  p.drawText(QRect(40, 520, 500, 60), "BAR");
  return plan;
}

void save(QWidget* w, const QString& path) {
  w->show();
  w->raise();
  spin(300);
  if (!w->grab().save(path)) std::fprintf(stderr, "could not save %s\n", qPrintable(path));
  else std::printf("%s\n", qPrintable(path));
}

// The whole desk as the default layout shares it out, on two screen sizes.
void shoot_desks(MainWindow& window, const QString& prefix) {
  for (const QSize& desk : {QSize(1920, 1080), QSize(1366, 768)}) {
    window.default_layout(QRect(QPoint(0, 0), desk));
    spin(800);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, 0, 0, desk.width(), desk.height()).toImage();
    const QString path = prefix + QString("_%1x%2.png").arg(desk.width()).arg(desk.height());
    if (!shot.save(path)) std::fprintf(stderr, "could not save %s\n", qPrintable(path));
    else std::printf("%s\n", qPrintable(path));
  }
}

// The map's "fit" button: the whole floor plan in sight.
void control_fit(MainWindow& window) {
  if (auto* fit = window.map()->findChild<QAbstractButton*>("map_fit")) fit->click();
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir temporary;
  const QString home_path = argc > 2 ? QString(argv[2]) : temporary.path();
  test::use_home(home_path);
  QApplication app(argc, argv);
  const QString out = argc > 1 ? argv[1] : "screenshots";
  QDir().mkpath(out);
  const QString folder = home_path + "/Signage Content";
  QDir().mkpath(folder);
  make_media(folder);

  test::ScriptedDialogs dialogs;
  Bus bus;
  Controllers c(bus, dialogs);
  MainWindow window({c.app, c.file_list, c.playlists, c.playlist_editor, c.schedule, c.schedule_view, c.udp_feedback,
                     bus, dialogs, &c.history, &c.groups, &c.announcement});
  c.app.set_windows(window.tool_windows());
  QObject::connect(&c.server, &Server::state_changed, &window, &MainWindow::show_server_state);
  window.show_server_state(c.server.state_text());
  window.show();
  c.app.applicationDidFinishLaunching();

  dialogs.open_answers.push_back(QStringList{folder});
  c.file_list.press_select();
  while (c.file_list.scanning()) spin(50);
  spin(800);
  RecordList& content = c.file_list.ArrayController_FILELIST();
  content.select_list_indices({0, 1, 2});
  dialogs.prompt_answers.push_back(QString("Lobby"));
  c.playlist_editor.PLAYLIST_CREATOR();
  content.select_list_indices({2});
  dialogs.prompt_answers.push_back(QString("Foyer"));
  c.playlist_editor.PLAYLIST_CREATOR();
  content.select_list_indices({0, 1});
  dialogs.prompt_answers.push_back(QString("Week 49"));
  c.schedule_view.create_schedule_from_content();
  dialogs.prompt_answers.push_back(QString("Breakfast"));
  c.schedule_view.add_line();
  // A weekday daypart: Monday to Friday, 7:00 to 10:30, then the fallback.
  const RecordArray week_tasks = c.schedule_view.ArrayController_SCHEDULE_VIEW().records();
  for (int row = 0; row < week_tasks.size(); ++row)
    if (week_tasks[row].value("name") == "Breakfast") {
      const qint64 week_id = c.schedule_view.shown_schedule_id().toLongLong();
      c.schedule_view.set_task_value(week_id, {row}, "list", c.playlists.ArrayController_PLAYLIST().at(0).value("id"));
      c.schedule_view.set_task_value(week_id, {row}, "days", "Mon Tue Wed Thu Fri");
      c.schedule_view.set_task_value(week_id, {row}, "end_time", "10:30");
      c.schedule_view.set_task_value(week_id, {row}, "time", "07:00");
      c.schedule_view.set_fallback(week_id, c.playlists.ArrayController_PLAYLIST().at(1).value("id").toLongLong());
    }

  c.udp_feedback.create_test_devices();
  RecordList& players = c.udp_feedback.ArrayController_DEVICES();
  for (int i = 0; i < players.size(); ++i) {
    players.set_value(i, "status_time", QDateTime::currentDateTime().addSecs(i % 3 == 0 ? -60 : 0));
    const RecordList& lists = c.playlists.ArrayController_PLAYLIST();
    players.set_value(i, "id_playlist", lists.at(i % lists.size()).value("id"));
    players.set_value(i, "id_track", "Lobby Loop.mp4");
    players.set_value(i, "status_player", i % 2);
    players.set_value(i, "device_ip", QString("10.0.0.%1").arg(20 + i));
  }
  // A week of history for each made-up player: mostly online, dark at
  // night on some days, a device error now and then.
  if (history::HistoryStore* store = c.history.store()) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch(), hour = 3600 * 1000;
    for (int i = 0; i < players.size(); ++i) {
      const QString id = players.at(i).value("device_id").toString();
      qint64 t = now - 7 * 24 * hour + i * hour / 3;
      store->record(history::Event{t, id, "first_seen", players.at(i).value("device_name").toString()});
      for (int day = 0; t < now - hour; ++day) {
        store->record(history::Event{t, id, "online", {}});
        if (day % 3 == i % 3) store->record(history::Event{t + 5 * hour, id, "error", {}});
        if (day == 5) store->record(history::Event{t + 2 * hour, id, "command", "4 send playlist"});
        t += (day % 2 == 0 ? 20 : 16) * hour;
        if (t >= now - hour) break;
        store->record(history::Event{t, id, "offline", {}});
        t += (i % 2 == 0 ? 4 : 8) * hour;
      }
    }
    store->flush();
    c.history.refresh_uptimes();
  }
  c.udp_feedback.map_state().background = png_of(floor_plan());
  window.map()->resize(1000, 700);
  window.map()->reload_map();
  for (int i = 0; i < players.size(); ++i) {
    MapIcon icon = players.at(i).value(player_map::kIconKey).value<MapIcon>();
    icon.frame.moveTopLeft(QPointF(80 + (i % 5) * 200, 560 - (i / 5) * 380));
    players.set_value(i, player_map::kIconKey, QVariant::fromValue(icon));
  }
  window.map()->reload_map();
  window.map()->check_icons_map();
  c.groups.create("Cafeteria");
  c.groups.create("Lobby screens");
  c.groups.add("Cafeteria", {"TEST_00", "TEST_01", "TEST_02", "TEST_03"});
  c.groups.add("Lobby screens", {"TEST_03", "TEST_04", "TEST_05"});
  players.select_list_indices({1, 3});
  c.udp_feedback.device_play();
  Announcement::Content closing;
  closing.stream = "https://streams.example/closing.m3u8";
  closing.label = "stream " + closing.stream;
  c.announcement.start(closing, c.groups.members("Cafeteria"), {"group:Cafeteria"}, 30);
  spin(1200);  // the census and the server line catch up

  shoot_desks(window, out + "/desk");
  window.default_layout(QRect(0, 0, 1920, 1080));
  spin(300);
  save(&window, out + "/main_window.png");
  save(window.content(), out + "/content.png");
  save(window.playlists(), out + "/playlists.png");
  save(window.schedule(), out + "/schedules.png");
  save(window.devices(), out + "/players.png");
  window.history()->bring_to_front();  // the selected player's history
  spin(300);
  save(window.history(), out + "/history.png");
  window.map()->bring_to_front();  // a tab behind the players
  spin(300);
  save(window.map(), out + "/map.png");
  // A day's work in the audit, as the desk shows it.
  if (history::HistoryStore* store = c.history.store()) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch(), minute = 60 * 1000;
    const struct {
      int ago;
      const char *who, *from, *operation, *arguments, *result;
    } day[] = {
        {540, "alice (admin)", "10.0.0.5", "sign in", "", "done"},
        {535, "alice (admin)", "10.0.0.5", "POST /api/users", "{\"name\":\"trainee\",\"password\":\"***\",\"role\":\"viewer\"}", "done"},
        {520, "token booking (operator)", "10.0.0.40", "POST /api/commands", "{\"command\":\"WEB STREAM\",\"players\":[\"group:Cafeteria\"]}", "done"},
        {490, "trainee (viewer)", "10.0.0.77", "POST /api/send", "{\"players\":\"all\",\"playlist\":3}", "refused (403): this needs the operator role; trainee is a viewer"},
        {480, "mallory", "192.0.2.200", "sign in", "", "refused (401): the name or the password is wrong"},
        {452, "desk (admin)", "desk", "Playlists: NEW", "", "done"},
        {450, "desk (admin)", "desk", "EDIT playlists: Playlist", "Id 3 = Lunch", "done"},
        {312, "desk (admin)", "desk", "Players: SEND", "devices: TEST_NAME_01, TEST_NAME_03; playlists: Lunch", "done"},
        {180, "bob (operator)", "10.0.0.6", "PUT /api/playlists/3/items", "{\"items\":[{\"file\":\"menu.png\",\"seconds\":8}]}", "done"},
        {95, "bob (operator)", "10.0.0.6", "DELETE /api/players/TEST_05", "", "refused (403): this needs the admin role; bob is an operator"},
        {12, "desk (admin)", "desk", "Players: REMOVE", "devices: TEST_NAME_05", "Remove 1 player? → Remove"},
    };
    for (const auto& e : day) store->record(history::AuditEntry{now - e.ago * minute, e.who, e.from, e.operation, e.arguments, e.result});
    window.resize(1366, 768);
    window.show_audit();
    spin(300);
    if (QWidget* audit = window.audit_window()) {
      audit->resize(1366, 560);
      spin(200);
      save(audit, out + "/audit.png");
      audit->hide();
    }
  }
  // A confirmation as the operator meets it, with the safe choice as default.
  QMessageBox box(&window);
  box.setText("Restart 2 players?");
  box.setInformativeText("TEST_NAME_01\nTEST_NAME_03");
  box.addButton("Cancel", QMessageBox::RejectRole);
  box.setDefaultButton(qobject_cast<QPushButton*>(box.buttons().first()));
  box.addButton("Restart", QMessageBox::AcceptRole);
  box.show();
  spin(300);
  save(&box, out + "/dialog.png");
  box.hide();

  // A busy network: 300 players heard, a sixth of them gone dark, and the
  // window's own alert for the outage.
  for (int i = 0; i < 300; ++i) {
    const QString id = QString("SIM-%1").arg(i, 4, 10, QChar('0'));
    const QString sep = "<v_OX_TANDEM>";
    // Long names that differ at the end, paused and playing, a few in error.
    const QString name = QString("Simulated %1").arg(id);
    c.udp_feedback.udp_socket_did_receive((id + sep + name + sep + (i % 10 == 5 ? "4" : "2") + sep + QString::number(i % 2) + sep + "1" + sep +
                                           "Lobby Loop.mp4" + sep + "0" + sep + "0")
                                              .toUtf8(),
                                          QString("10.0.%1.%2").arg(i / 200).arg(i % 200 + 20));
    if (i % 6 == 0) players.set_value(players.size() - 1, "status_time", QDateTime::currentDateTime().addSecs(-120));
  }
  window.map()->reload_map();
  window.show_alert("50 players are offline",
                    "They have sent nothing since 09:41: Simulated 0000, Simulated 0006, Simulated 0012 and 47 more.");
  shoot_desks(window, out + "/busy_300_players");
  window.map()->bring_to_front();
  control_fit(window);
  spin(300);
  save(window.map(), out + "/busy_300_players_map.png");
  c.app.applicationWillTerminate();
  return 0;
}
