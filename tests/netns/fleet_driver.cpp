// The operator's side of the fleet test: the application's controllers and
// main window (offscreen) on a fresh home, driven as an operator would.
//   fleet_driver CONTENT_FOLDER HOME PLAYERS LONE_PID
// With TAVRI_FLEET_BENCH set it times the playlist send alone (bench/);
// with TAVRI_FLEET_BROKEN too, one medium is gone before the send, so that
// every player goes to DEVICE ERROR; TAVRI_FLEET_HOLD=S then keeps the
// fleet running S seconds after "BENCH holding" for the benchmark to count.
// The players are simulated elsewhere; LONE_PID is a one-player simulator
// that this driver stops to see its player go offline.
#include <QRegularExpression>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <functional>

#include "app/controllers.h"
#include "core/bus.h"
#include "players/player_status.h"
#include "support/scripted_dialogs.h"
#include "ui/main_window.h"
#include "support/fresh_home.h"

using namespace tavri;

namespace {

int failures = 0;
void check(bool ok, const QString& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", qPrintable(what));
  std::fflush(stdout);
  if (!ok) ++failures;
}

void spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Waits, serving the event loop, until `done` or the time-out; the seconds it took.
double wait_for(const std::function<bool()>& done, int timeout_s) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < timeout_s * 1000) spin(100);
  return done() ? t.elapsed() / 1000.0 : -1;
}

// Bytes sent by this namespace's network interfaces (loopback aside).
unsigned long long sent_bytes() {
  QFile dev("/proc/net/dev");
  if (!dev.open(QIODevice::ReadOnly)) return 0;
  unsigned long long total = 0;
  for (const QByteArray& line : dev.readAll().split('\n')) {
    const int colon = line.indexOf(':');
    if (colon < 0 || line.left(colon).trimmed() == "lo") continue;
    const QList<QByteArray> fields = line.mid(colon + 1).simplified().split(' ');
    if (fields.size() > 8) total += fields[8].toULongLong();
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s CONTENT HOME PLAYERS LONE_PID\n", argv[0]);
    return 2;
  }
  const QString content_folder = argv[1], home = argv[2];
  const int players = std::atoi(argv[3]);
  const pid_t lone = static_cast<pid_t>(std::atoi(argv[4]));
  const bool bench = qEnvironmentVariableIsSet("TAVRI_FLEET_BENCH");  // only the playlist send, timed
  test::use_home(home);
  QApplication application(argc, argv);

  test::ScriptedDialogs dialogs;
  Bus& bus = Bus::instance();
  Controllers c(bus, dialogs);
  MainWindow window({c.app, c.file_list, c.playlists, c.playlist_editor, c.schedule, c.schedule_view, c.udp_feedback,
                     bus, dialogs, &c.history});
  c.app.set_windows(window.tool_windows());
  window.show();
  window.default_layout(QRect(0, 0, 1920, 1080));
  c.app.applicationDidFinishLaunching();

  dialogs.open_answers.push_back(QStringList{content_folder});
  c.file_list.press_select();
  RecordList& content = c.file_list.ArrayController_FILELIST();
  const int media = static_cast<int>(QDir(content_folder).entryList(QDir::Files).size());
  wait_for([&] { return !c.file_list.scanning() && content.size() == media; }, 60);
  check(content.size() == media, QString("the content folder shows its %1 media").arg(content.size()));
  check(wait_for([&] { return c.server.state_text().startsWith("Serving"); }, 30) >= 0, c.server.state_text());

  RecordList& registry = c.udp_feedback.ArrayController_DEVICES();
  // More players than a screen shows: the window asks first; yes.
  auto confirm_many = [&](int count) {
    if (count > UDP_Feedback::kScreenful) dialogs.alert_answers.push_back(1);
  };
  auto sims = [&] {
    QList<int> rows;
    for (int i = 0; i < registry.size(); ++i)
      if (registry.at(i).value("device_id").toString().startsWith("SIM-")) rows << i;
    return rows;
  };
  const double seen = wait_for([&] { return sims().size() == players && registry.size() == players + 1; }, 60);
  check(seen >= 0, QString("all %1 players and the lone one are in the registry (%2 records, %3 s)")
                       .arg(players).arg(registry.size()).arg(seen));
  window.map()->reload_map();
  check(window.map()->icons().size() == registry.size(),
        QString("every player is on the map (%1 icons)").arg(window.map()->icons().size()));

  auto all_of = [&](const QList<int>& rows, const std::function<bool(const Record&)>& test) {
    for (int i : rows)
      if (!test(registry.at(i))) return false;
    return true;
  };
  auto count_of = [&](const std::function<bool(const Record&)>& test) {
    int n = 0;
    for (int i = 0; i < registry.size(); ++i) n += test(registry.at(i)) ? 1 : 0;
    return n;
  };

  // A playlist of every medium, sent to every simulated player.
  QList<int> every;
  for (int i = 0; i < media; ++i) every << i;
  content.select_list_indices(every);
  dialogs.prompt_answers.push_back(QString("Fleet"));
  c.playlist_editor.PLAYLIST_CREATOR();
  const RecordList& lists = c.playlists.ArrayController_PLAYLIST();
  const QString playlist_id = lists.selected_records().value(0).value("id").toString();
  registry.select_list_indices(sims());
  const bool broken = bench && qEnvironmentVariableIsSet("TAVRI_FLEET_BROKEN");
  const int hold_s = qEnvironmentVariableIntValue("TAVRI_FLEET_HOLD");
  auto hold = [&] {
    std::printf("BENCH holding\n");
    std::fflush(stdout);
    spin(hold_s * 1000);
  };
  if (broken) {
    QFile::remove(QDir(content_folder).filePath(QDir(content_folder).entryList(QDir::Files).first()));
    dialogs.alert_answers.push_back(1);  // "Send anyway"
    confirm_many(players);
    c.playlist_editor.send_to_device();
    const double errors = wait_for([&] {
      return all_of(sims(), [](const Record& r) { return r.value("status_device").toInt() == 4; });
    }, 120);
    check(errors >= 0, QString("every player is in error (%1 s)").arg(errors));
    hold();
    c.app.applicationWillTerminate();
    return failures ? 1 : 0;
  }
  const unsigned long long sent_before = sent_bytes();
  confirm_many(players);
  c.playlist_editor.send_to_device();
  if (players > UDP_Feedback::kScreenful)
    check(dialogs.alert_messages().value(dialogs.alert_messages().size() - 1) ==
              QString("\"Fleet\" to %1 players?").arg(players),
          "sending to the whole fleet asks first: " + dialogs.alert_messages().value(dialogs.alert_messages().size() - 1));
  QList<int> all = sims();
  std::sort(all.begin(), all.end(), [&](int x, int y) {
    return registry.at(x).value("device_id").toString() < registry.at(y).value("device_id").toString();
  });
  auto ready_with = [](const QString& id) {
    return [id](const Record& r) { return r.value("status_device").toInt() == 2 && r.value("id_playlist").toString() == id; };
  };
  double took = wait_for([&] { return all_of(all, ready_with(playlist_id)); }, bench ? 1800 : 180);
  check(took >= 0, QString("every player downloaded playlist %1 and reports it ready (%2 s)").arg(playlist_id).arg(took));
  const QString all_confirmed = QString("LOAD PLAYLIST: %1 of %1 confirmed").arg(players);
  check(wait_for([&] { return c.udp_feedback.last_command() == all_confirmed; }, 30) >= 0,
        QString("the status bar says so: %1").arg(c.udp_feedback.last_command()));
  if (bench) {
    // The benchmark's figures: the time to a ready fleet, and the peak memory.
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QString text = QString::fromLatin1(status.readAll());
    const int at = text.indexOf("VmHWM:");
    std::printf("BENCH ready_seconds=%.2f peak_rss_kb=%s\n", took,
                qPrintable(text.mid(at + 6, text.indexOf('\n', at) - at - 6).trimmed().split(' ').first()));
    // The same playlist again: players holding its media unchanged ask for
    // them only if they changed. Bytes moved and the time until every
    // player has confirmed it again.
    const unsigned long long first_bytes = sent_bytes() - sent_before;
    const unsigned long long before_second = sent_bytes();
    confirm_many(players);
    c.playlist_editor.send_to_device();
    wait_for([&] { return c.udp_feedback.last_command() != all_confirmed; }, 10);
    const double again = wait_for(
        [&] { return c.udp_feedback.last_command() == all_confirmed && all_of(all, ready_with(playlist_id)); }, 600);
    std::printf("BENCH second_send_seconds=%.2f second_send_bytes=%llu first_send_bytes=%llu\n", again,
                sent_bytes() - before_second, first_bytes);
    std::fflush(stdout);
    // NEXT and WEB STREAM to the whole fleet: every player confirms each or
    // is reported failed within its minute; none is left silent.
    const QRegularExpression tally("^([A-Z ]+): (\\d+) of (\\d+) confirmed(?:, (\\d+) failed)?(?:, (\\d+) not confirmable)?");
    auto accounted = [&](const QString& name, const std::function<void()>& send) {
      confirm_many(players);
      send();
      int confirmed = 0, failed = 0, unconfirmable = 0;
      const double seconds = wait_for([&] {
        const auto m = tally.match(c.udp_feedback.last_command());
        if (!m.hasMatch() || m.captured(1) != name || m.captured(3).toInt() != players) return false;
        confirmed = m.captured(2).toInt();
        failed = m.captured(4).toInt();
        unconfirmable = m.captured(5).toInt();
        return confirmed + failed + unconfirmable == players;
      }, 180);
      std::printf("BENCH command=%s confirmed=%d failed=%d accounted_seconds=%.2f not_confirmable=%d\n",
                  qPrintable(name.toLower().replace(' ', '_')), confirmed, failed, seconds, unconfirmable);
      std::fflush(stdout);
      check(seconds >= 0, QString("%1: every player confirmed it or was reported failed (%2 confirmed, %3 failed)")
                              .arg(name).arg(confirmed).arg(failed));
    };
    registry.select_list_indices(all);
    accounted("NEXT", [&] { c.udp_feedback.device_next(); });
    accounted("WEB STREAM", [&] {
      dialogs.prompt_answers.push_back(QString("http://192.0.2.1/live.m3u8"));
      c.udp_feedback.sendM3U8();
    });
    if (hold_s > 0) hold();
    c.app.applicationWillTerminate();
    return failures ? 1 : 0;
  }

  // A schedule of two media to half of them (the lower ids), under an id that
  // no playlist has: the players report either in the same field.
  dialogs.prompt_answers.push_back(QString("Spare"));
  c.schedule.add_new_playlist();
  content.select_list_indices({0, 1});
  dialogs.prompt_answers.push_back(QString("Fleet week"));
  c.schedule_view.create_schedule_from_content();
  const QString schedule_id =
      c.schedule.ArrayController_SCHEDULELIST().selected_records().value(0).value("id").toString();
  const QList<int> half = all.mid(0, players / 2), rest = all.mid(players / 2);
  registry.select_list_indices(half);
  confirm_many(static_cast<int>(half.size()));
  c.schedule_view.send_to_device();
  took = wait_for([&] { return all_of(half, ready_with(schedule_id)); }, 180);
  check(took >= 0, QString("half of them downloaded schedule %1 and report it ready (%2 s)").arg(schedule_id).arg(took));
  check(schedule_id != playlist_id, QString("the schedule's id %1 is not the playlist's").arg(schedule_id));
  check(all_of(rest, ready_with(playlist_id)), "the other half still play the playlist");

  // Rename (one player at a time), pause and play reach exactly the selected players.
  const int some = std::min(10, players / 2);
  const QList<int> one = all.mid(0, 1), ten = all.mid(players - some, some);
  registry.select_list_indices(one);
  dialogs.prompt_answers.push_back(QString("Renamed"));
  c.udp_feedback.changeName();
  auto renamed = [](const Record& r) { return r.value("device_name").toString() == "Renamed"; };
  took = wait_for([&] { return all_of(one, renamed); }, 20);
  spin(2500);  // a feedback round more: nobody else follows
  check(took >= 0 && count_of(renamed) == 1, QString("rename reached exactly that player (%1)").arg(count_of(renamed)));
  registry.select_list_indices(ten);
  c.udp_feedback.device_pause();
  auto paused = [](const Record& r) { return r.value("status_player").toInt() == 0; };
  took = wait_for([&] { return all_of(ten, paused); }, 20);
  spin(2500);
  check(took >= 0 && count_of(paused) == some + 1, QString("pause reached exactly %1 players (%2 paused, the lone "
                                                           "one never played)").arg(some).arg(count_of(paused)));
  c.udp_feedback.device_play();
  took = wait_for([&] { return !all_of(ten, paused) && all_of(ten, [](const Record& r) {
                            return r.value("status_player").toInt() == 1;
                          }); }, 20);
  check(took >= 0 && count_of(paused) == 1, "play reached them again");

  // A player that stops sending goes offline by the 8 s rule.
  int lone_row = -1;
  for (int i = 0; i < registry.size(); ++i)
    if (registry.at(i).value("device_id").toString().startsWith("LONE")) lone_row = i;
  check(lone_row >= 0 && players::is_online(registry.at(lone_row)), "the lone player is online");
  ::kill(lone, SIGKILL);
  QElapsedTimer silent;
  silent.start();
  took = wait_for([&] { return !players::is_online(registry.at(lone_row)); }, 15);
  const double after = silent.elapsed() / 1000.0;
  check(took >= 0 && after >= 5.5 && after <= 11,
        QString("the lone player went offline %1 s after its last feedback could have come").arg(after, 0, 'f', 1));
  check(players::count_players(registry).offline == 1, "it is the only one offline");

  c.app.applicationWillTerminate();
  std::printf("%s\n", failures ? "FLEET TEST FAILED" : "FLEET TEST PASSED");
  return failures ? 1 : 0;
}
