// A feedback flood against the whole main-thread side of the player
// network: 200,000 datagrams from 10,000 ids, as fast as loopback takes
// them, into the registry with the players table shown, the player
// history recording and the map rebuilt for new players.
// Prints, next to a plain receive loop on the same socket type (reference):
// the time until every datagram is taken, the longest stall of a 10 ms
// main-thread timer, and when the registry's working copy on disk first
// holds every player.
//   build/bench/flood_bench 2>/dev/null
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <thread>

#include "core/console.h"
#include "core/time_zone.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "history/history_service.h"
#include "net/io_pool.h"
#include "players/net/datagram_socket.h"
#include "players/player_map.h"
#include "players/udp_feedback.h"
#include "ui/players_window.h"
#include "../tests/support/scripted_dialogs.h"
#include "../tests/support/udp_peer.h"
#include "stall_probe.h"

using namespace tavri;

namespace {

constexpr int kIds = 10000;
constexpr int kDatagrams = 200000;

std::string feedback(int i) {
  const std::string id = "F" + std::to_string(i % kIds);
  return id + "<v_OX_TANDEM>Screen " + id + "<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>7<v_OX_TANDEM>" +
         std::to_string(i / kIds) + "<v_OX_TANDEM>0<v_OX_TANDEM>0<v_OX_TANDEM>12:00:00<v_OX_TANDEM>bg.png";
}

// All datagrams from one loopback socket, yielding now and then so that
// the receiver's buffer is not simply overrun.
void blast(std::uint16_t port) {
  test::UdpPeer peer;
  for (int i = 0; i < kDatagrams; ++i) {
    peer.send_to(port, feedback(i));
    if (i % 64 == 63) std::this_thread::yield();
  }
}

struct Counter : net::DatagramSocketDelegate {
  std::atomic<int> count{0};
  void udp_socket_did_receive(net::DatagramSocket&, std::vector<std::uint8_t>, std::vector<std::uint8_t>) override {
    ++count;
  }
};

// The reference: datagrams counted on the socket's own queue.
void run_plain(net::IoPool& pool) {
  auto counter = std::make_shared<Counter>();
  auto socket = net::DatagramSocket::create(counter, pool.make_strand(), pool.context());
  socket->bind_to_port(0);
  socket->begin_receiving();
  QElapsedTimer t;
  t.start();
  std::thread sender(blast, socket->local_port());
  sender.join();
  const double sent_s = t.nsecsElapsed() / 1e9;
  int last = -1;
  while (counter->count != last) {
    last = counter->count;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("%-36s %8d %10.2f s %10.2f s %14s %16s\n", "plain receive loop (ref)", last, sent_s,
              t.nsecsElapsed() / 1e9 - 0.1, "-", "-");
  socket->close();
}



// The registry on an ephemeral loopback port; commands go to loopback.
PlayerNetworkConfig loopback() {
  PlayerNetworkConfig config;
  config.feedback_port = 0;
  config.command_host = "127.0.0.1";
  return config;
}

// Serves the main loop as the application does, asleep between events,
// looking every 20 ms whether `done` holds (or the time is up).
template <typename Done>
void serve_until(Done done, int timeout_ms) {
  QEventLoop loop;
  QTimer look;
  QElapsedTimer t;
  t.start();
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (done() || t.elapsed() > timeout_ms) loop.quit();
  });
  look.start(20);
  loop.exec();
}

// Watches the working copy from a thread of its own: when it first holds
// every player, in ms from the start (-1: not yet).
struct DiskWatch {
  std::atomic<bool> stop{false};
  std::atomic<qint64> all_on_disk_ms{-1};
  std::thread thread;
  explicit DiskWatch(const QElapsedTimer& since) {
    thread = std::thread([this, since] {
      const QString path = app_support_folder() + "/" + kTempFolder + "/" + kRegistryWorkingCopy;
      QDateTime seen;
      while (!stop && all_on_disk_ms < 0) {
        // Read only when written anew: decoding takes a core of its own.
        const QDateTime written = QFileInfo(path).lastModified();
        if (written.isValid() && written != seen) {
          seen = written;
          if (auto bytes = read_file(path))
            if (auto top = decode_archive(*bytes); top && top->value("SPEICHER").toList().size() >= kIds)
              all_on_disk_ms = since.elapsed();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ~DiskWatch() {
    stop = true;
    thread.join();
  }
};

void run_flood(net::IoPool& pool, bool address_limit) {
  Bus bus;
  test::ScriptedDialogs dialogs;
  PlayerNetworkConfig config = loopback();
  // Off: what the main thread takes; on: one address held to its rate.
  if (!address_limit) config.address_rate = config.address_burst = 1e9;
  UDP_Feedback players(bus, dialogs, nullptr, config, &pool);
  players.load();
  history::HistoryService history(players, dialogs, [](const QString&, const QString&) { return QString(); });
  PlayersWindow window(players, [] {});
  window.resize(1366, 700);
  window.show();
  QObject::connect(&players, &UDP_Feedback::reload_map_requested, [&] {
    player_map::rebuild(players.ArrayController_DEVICES(), QSizeF(1920, 1080), QSizeF(800, 600), QSizeF(780, 540));
  });
  std::atomic<long long> dropped{0};
  set_console_listener([&](const QString& line) {
    // "FEEDBACK DROPPED: 12 arrived faster than ..., 3 over one address's rate (...)"
    if (line.startsWith("FEEDBACK DROPPED: "))
      for (const QString& part : line.mid(18).split(", ", Qt::SkipEmptyParts)) dropped += part.section(' ', 0, 0).toLongLong();
  });
  int processed = 0;
  QObject::connect(&players, &UDP_Feedback::feedback_recorded, [&] { ++processed; });

  QApplication::processEvents();
  const double cpu0 = bench::thread_cpu_ms() * 1000;
  bench::StallProbe probe;
  QElapsedTimer t;
  t.start();
  DiskWatch disk(t);
  std::atomic<double> sent_s{-1};
  std::thread sender([&] {
    blast(players.feedback_port());
    sent_s = t.nsecsElapsed() / 1e9;
  });
  QElapsedTimer idle;
  idle.start();
  int last = -1;
  // Until the sender is done and nothing new came for two seconds.
  serve_until([&] {
    if (processed != last) {
      last = processed;
      idle.restart();
    }
    return sent_s >= 0 && idle.elapsed() > 2000;
  }, 120000);
  const double all_in_s = (t.nsecsElapsed() - idle.nsecsElapsed()) / 1e9;
  const double cpu_per_datagram = (bench::thread_cpu_ms() * 1000 - cpu0) / std::max(processed, 1);
  sender.join();
  // A tick of the check timer reports what the inbox dropped.
  serve_until([] { return false; }, 4500);
  // Wait up to 15 s for the registry on disk.
  serve_until([&] { return disk.all_on_disk_ms >= 0 || t.elapsed() > all_in_s * 1000 + 15000; }, 60000);
  char on_disk[32];
  if (disk.all_on_disk_ms >= 0) std::snprintf(on_disk, sizeof on_disk, "%.2f s", disk.all_on_disk_ms / 1000.0);
  else std::snprintf(on_disk, sizeof on_disk, "not yet");
  std::printf("%-36s %8d %10.2f s %10.2f s %11.1f ms %16s\n",
              address_limit ? "the same, one address held to its rate" : "registry + table + history + map", processed,
              sent_s.load(), all_in_s, probe.longest(), on_disk);
  std::printf("  players in the registry: %d, datagrams not taken (inbox full, rate of one address): %lld; "
              "main-thread CPU per datagram taken: %.1f us\n",
              players.ArrayController_DEVICES().size(), dropped.load(), cpu_per_datagram);
  set_console_listener({});
}

// 20,000 invented ids from one address, within its rate, fill the registry; then a
// real player appears: how long until it is in.
void run_invented(net::IoPool& pool) {
  Bus bus;
  test::ScriptedDialogs dialogs;
  UDP_Feedback players(bus, dialogs, nullptr, loopback(), &pool);
  set_console_listener([](const QString&) {});
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    test::UdpPeer peer;
    for (int i = 0; i < 20000; ++i) {
      const std::string id = "FAKE" + std::to_string(i);
      peer.send_to(players.feedback_port(), id + "<v_OX_TANDEM>x<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>1"
                                                 "<v_OX_TANDEM>1<v_OX_TANDEM>0<v_OX_TANDEM>0");
      if (i % 1000 == 999) std::this_thread::sleep_for(std::chrono::milliseconds(250));  // under one address's rate
    }
    sent = true;
  });
  serve_until([&] { return sent.load(); }, 120000);
  sender.join();
  serve_until([] { return false; }, 500);
  const int full = players.ArrayController_DEVICES().size();
  test::UdpPeer real;
  QElapsedTimer t;
  t.start();
  real.send_to(players.feedback_port(), "REAL<v_OX_TANDEM>Lobby<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>1"
                                        "<v_OX_TANDEM>1<v_OX_TANDEM>0<v_OX_TANDEM>0");
  auto in = [&] {
    const RecordList& list = players.ArrayController_DEVICES();
    for (int i = list.size() - 1; i >= 0; --i)
      if (list.at(i).value("device_id").toString() == "REAL") return true;
    return false;
  };
  serve_until(in, 10000);
  std::printf("\n20,000 invented ids: %d players in the registry (cap %d); a real new player then in after %s\n", full,
              UDP_Feedback::kMaxPlayers, in() ? qPrintable(QString("%1 ms").arg(t.elapsed())) : "more than 10 s");
  set_console_listener({});
}

}  // namespace

int main(int argc, char** argv) {
  read_time_zone_once();  // as the application does
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  net::IoPool pool(2);
  std::printf("%d datagrams from %d ids over loopback\n\n", kDatagrams, kIds);
  std::printf("%-36s %8s %12s %12s %14s %16s\n", "", "taken", "sent in", "all in", "longest stall",
              "all on disk at");
  run_plain(pool);
  run_flood(pool, false);
  run_flood(pool, true);
  run_invented(pool);
  return 0;
}
