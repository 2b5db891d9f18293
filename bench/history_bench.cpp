// Player history at fleet scale: 1000 players, one feedback per second
// each, a new track every 10 s.
//  1. Real time, 20 s: the main thread's CPU share for the registry and the
//     history together, next to the registry alone (reference, same run).
//  2. Fast time: a week of it (with a new list each day and two dark hours a
//     night) into a fresh history file: its size, and how long it took.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "core/console.h"
#include "history/history_recorder.h"
#include "history/history_service.h"
#include "history/history_store.h"
#include "players/udp_feedback.h"
#include "../tests/support/scripted_dialogs.h"
#include "stall_probe.h"

using namespace tavri;

namespace {

constexpr int kPlayers = 1000;
const char* kTracks[] = {"Lobby Loop.mp4", "Menu.png", "Offers.mov"};

QByteArray feedback(int player, int second) {
  const QString s = "<v_OX_TANDEM>";
  return (QString("P%1").arg(player) + s + QString("Player %1").arg(player) + s + "2" + s + "1" + s + "4" + s +
          kTracks[(second / 10) % 3] + s + "0" + s + "0" + s + QString::number(second))
      .toUtf8();
}

// Feeds `seconds` of the fleet through the registry (and the history when
// one is attached) at the real rate; the main thread's CPU share.
double main_thread_share(UDP_Feedback& players, int seconds) {
  const double cpu0 = (bench::thread_cpu_ms() / 1000.0);
  QElapsedTimer wall;
  wall.start();
  for (int second = 0; second < seconds; ++second) {
    // A second's datagrams arrive spread over it, as they would.
    for (int slice = 0; slice < 10; ++slice) {
      for (int p = slice * kPlayers / 10; p < (slice + 1) * kPlayers / 10; ++p)
        players.udp_socket_did_receive(feedback(p, second), "192.0.2.2");
      QEventLoop loop;
      QTimer::singleShot(std::max<qint64>(0, (second * 1000 + (slice + 1) * 100) - wall.elapsed()), &loop,
                         &QEventLoop::quit);
      loop.exec();
    }
  }
  return ((bench::thread_cpu_ms() / 1000.0) - cpu0) / (wall.elapsed() / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  qputenv("XDG_DOCUMENTS_DIR", (home.path() + "/Documents").toUtf8());
  QDir().mkpath(home.path() + "/Documents");
  QCoreApplication app(argc, argv);
  set_console_listener([](const QString&) {});  // "RECEIVE FROM" a thousand times a second
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;

  test::ScriptedDialogs dialogs;
  Bus bus;
  PlayerNetworkConfig net;
  net.feedback_port = 0;
  net.command_host = "127.0.0.1";
  net.command_port = 9;
  double alone = 0, with_history = 0;
  {
    UDP_Feedback players(bus, dialogs, nullptr, net);
    alone = main_thread_share(players, seconds);
  }
  {
    UDP_Feedback players(bus, dialogs, nullptr, net);
    history::HistoryService history(players, dialogs, [](const QString&, const QString&) { return QString("Lobby"); });
    with_history = main_thread_share(players, seconds);
  }
  std::printf("%-62s %10s\n", "figure (reference: the registry alone, same run)", "value");
  std::printf("%-62s %9.1f%%\n", "main thread, registry alone (1000 feedbacks/s)", alone * 100);
  std::printf("%-62s %9.1f%%\n", "main thread, registry and history (goal: under 10 %)", with_history * 100);
  std::printf("%-62s %9.1f%%\n", "  the history's own share", (with_history - alone) * 100);

  // A week in fast time, straight into the recorder and a fresh file.
  const QString path = home.path() + "/week.sqlite";
  QElapsedTimer took;
  took.start();
  qint64 sightings = 0;
  {
    history::HistoryStore store;
    if (!store.open(path)) return 1;
    history::HistoryRecorder recorder(store);
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 7ll * 24 * 3600 * 1000;
    for (qint64 second = 0; second < 7 * 24 * 3600; ++second) {
      const qint64 now = start + second * 1000;
      const int hour = int((second / 3600) % 24), day = int(second / 86400);
      if (hour >= 3 && hour < 5) {  // the screens are off at night
        if (second % 60 == 0) recorder.tick(now);
        continue;
      }
      // Between track changes a feedback only moves the run's end; one in
      // ten stands for them, and the recorder sees every change.
      if (second % 10 != 0 && second % 10 != 5) continue;
      for (int p = 0; p < kPlayers; ++p) {
        recorder.feedback({QString("P%1").arg(p), QString("Player %1").arg(p), 2, QString::number(4 + day),
                           QString("List of day %1").arg(day), kTracks[(second / 10) % 3]},
                          now + p);
        ++sightings;
      }
      if (second % 10 == 0) recorder.tick(now);
    }
    store.flush();
  }
  {
    // The file as it stays: its write-ahead log folded in.
    history::HistoryStore reopen;
    reopen.open(path);
  }
  const double mb = (QFileInfo(path).size() + QFileInfo(path + "-wal").size()) / 1048576.0;
  std::printf("%-62s %10.1f\n", "a week of 1000 players: history file, MB (goal: under 50)", mb);
  std::printf("%-62s %10.1f\n", "  written in fast time, s", took.elapsed() / 1000.0);
  std::printf("%-62s %10lld\n", "  sightings fed to the recorder", static_cast<long long>(sightings));

  // A restore makes a backup's history anew, row by row, before the
  // service starts: how long the week takes, and the rate that sets the
  // unit's start timeout for a history at its size cap.
  QElapsedTimer rebuilding;
  rebuilding.start();
  const QString error = history::rebuild_history(path, home.path() + "/rebuilt.sqlite");
  const double seconds_taken = rebuilding.elapsed() / 1000.0;
  if (!error.isEmpty()) std::printf("rebuild failed: %s\n", qPrintable(error));
  std::printf("%-62s %10.1f\n", "restore: the week's history made anew, s", seconds_taken);
  std::printf("%-62s %10.1f\n", "  at the history's size cap (256 MB), s, estimated",
              seconds_taken * 256.0 / std::max(mb, 0.1));
  return 0;
}
