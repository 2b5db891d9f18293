// Feedback throughput: 1000 simulated players send feedback over loopback as
// fast as the socket takes it. Prints datagrams per second that reach the
// player registry on the main thread, next to a plain receive loop on the
// same socket type (reference: "plain receive loop"), and the ratio.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <thread>

#include "core/bus.h"
#include "core/console.h"
#include "net/io_pool.h"
#include "players/net/datagram_socket.h"
#include "players/player_map.h"
#include "players/udp_feedback.h"
#include "../tests/support/scripted_dialogs.h"
#include "../tests/support/udp_peer.h"
#include "stall_probe.h"

using tavri::bench::StallProbe;
using tavri::bench::thread_cpu_ms;

namespace {

constexpr int kPlayers = 1000;
constexpr int kDatagrams = 200000;

std::string feedback(int i) {
  const std::string id = "P" + std::to_string(i % kPlayers);
  return id + "<v_OX_TANDEM>Player " + id + "<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>7<v_OX_TANDEM>" +
         std::to_string(i) + "<v_OX_TANDEM>0<v_OX_TANDEM>0<v_OX_TANDEM>12:00:00<v_OX_TANDEM>bg.png";
}

// Sends kDatagrams from one loopback socket, yielding now and then so the
// receiver's buffer is not simply overrun.
void blast(std::uint16_t port, std::atomic<bool>& stop) {
  tavri::test::UdpPeer peer;
  for (int i = 0; i < kDatagrams && !stop; ++i) {
    peer.send_to(port, feedback(i));
    if (i % 64 == 63) std::this_thread::yield();
  }
}

// The player registry on an ephemeral loopback port, its console silenced.
struct Registry {
  explicit Registry(tavri::net::IoPool& pool) : players(bus, dialogs, nullptr, loopback(), &pool) {}
  static tavri::PlayerNetworkConfig loopback() {
    tavri::set_console_listener([](const QString&) {});
    tavri::PlayerNetworkConfig config;
    config.feedback_port = 0;
    config.command_host = "127.0.0.1";
    return config;
  }
  tavri::Bus bus;
  tavri::test::ScriptedDialogs dialogs;
  tavri::UDP_Feedback players;
};

struct Counter : tavri::net::DatagramSocketDelegate {
  std::atomic<int> count{0};
  void udp_socket_did_receive(tavri::net::DatagramSocket&, std::vector<std::uint8_t>, std::vector<std::uint8_t>) override {
    ++count;
  }
};

double run_plain(tavri::net::IoPool& pool) {
  auto counter = std::make_shared<Counter>();
  auto strand = pool.make_strand();
  auto socket = tavri::net::DatagramSocket::create(counter, strand, pool.context());
  socket->bind_to_port(0);
  socket->begin_receiving();
  std::atomic<bool> stop{false};
  QElapsedTimer t;
  t.start();
  std::thread sender(blast, socket->local_port(), std::ref(stop));
  sender.join();
  int last = -1;
  while (counter->count != last) {  // drain what is still queued
    last = counter->count;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const double seconds = t.nsecsElapsed() / 1e9 - 0.05;
  std::printf("plain receive loop:   %d of %d datagrams in %.2f s\n", last, kDatagrams, seconds);
  socket->close();
  return last / seconds;
}

double run_registry(tavri::net::IoPool& pool) {
  Registry registry(pool);
  tavri::UDP_Feedback& players = registry.players;
  int processed = 0;
  QObject::connect(&players.ArrayController_DEVICES(), &tavri::RecordList::changed, [&] { ++processed; });
  std::atomic<bool> stop{false};
  QElapsedTimer t;
  t.start();
  std::thread sender(blast, players.feedback_port(), std::ref(stop));
  while (sender.joinable()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (t.elapsed() > 600000) stop = true;
    if (processed >= kDatagrams) break;
    static QElapsedTimer idle;
    static int last = -1;
    if (processed != last) {
      last = processed;
      idle.restart();
    } else if (idle.isValid() && idle.elapsed() > 300) {
      break;
    }
  }
  const double seconds = t.nsecsElapsed() / 1e9 - 0.3;
  stop = true;
  sender.join();
  std::printf("registry, main thread: %d of %d datagrams in %.2f s (%d players)\n", processed, kDatagrams,
              seconds, players.ArrayController_DEVICES().size());
  return processed / seconds;
}


// A fleet of `players`, each sending one datagram every `period_ms`, for
// `duration_ms`, from one loopback socket (paced, not flooded).
void fleet(std::uint16_t port, int players, int period_ms, int duration_ms, const char* prefix) {
  tavri::test::UdpPeer peer;
  QElapsedTimer t;
  t.start();
  for (long long n = 0; t.elapsed() < duration_ms; ++n) {
    const int i = static_cast<int>(n % players);
    const std::string id = prefix + std::to_string(i);
    peer.send_to(port, id + "<v_OX_TANDEM>Screen " + id + "<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>7<v_OX_TANDEM>" +
                           std::to_string(n / players) + "<v_OX_TANDEM>0<v_OX_TANDEM>0");
    // Paced so that each player sends once per period.
    const double due = (n + 1) * static_cast<double>(period_ms) / players;
    while (t.elapsed() < due) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}


// 1000 players appearing within one second, from an empty registry, with
// the map's rebuild (its geometry) run for every request it gets.
void run_burst(tavri::net::IoPool& pool, bool merged) {
  Registry registry(pool);
  tavri::UDP_Feedback& players = registry.players;
  tavri::RecordList& devices = players.ArrayController_DEVICES();
  int rebuilds = 0, rebuilt_with = 0;
  auto rebuild = [&] {
    ++rebuilds;
    tavri::player_map::rebuild(devices, QSizeF(1920, 1080), QSizeF(800, 600), QSizeF(780, 540));
    rebuilt_with = devices.size();
  };
  // The reference: a full rebuild for every new player, as before merging.
  if (merged)
    QObject::connect(&players, &tavri::UDP_Feedback::reload_map_requested, rebuild);
  else
    QObject::connect(&devices, &tavri::RecordList::changed, [&, last = 0]() mutable {
      if (devices.size() != last) {
        last = devices.size();
        rebuild();
      }
    });
  StallProbe probe;
  QElapsedTimer t;
  t.start();
  std::thread sender(fleet, players.feedback_port(), 1000, 1000, 1000, "B");
  while ((rebuilt_with < 1000 || devices.size() < 1000) && t.elapsed() < 600000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const double done = t.nsecsElapsed() / 1e6;
  sender.join();
  std::printf("%-44s %9.0f ms %9.1f ms %8d\n", merged ? "1000 new players in 1 s: now" : "1000 new players in 1 s: rebuild each (ref)",
              done, probe.longest(), rebuilds);
}

// Steady state: 1000 players at one datagram a second each.
void run_steady(tavri::net::IoPool& pool) {
  Registry registry(pool);
  tavri::UDP_Feedback& players = registry.players;
  QObject::connect(&players, &tavri::UDP_Feedback::reload_map_requested, [&] {
    tavri::player_map::rebuild(players.ArrayController_DEVICES(), QSizeF(1920, 1080), QSizeF(800, 600), QSizeF(780, 540));
  });
  std::thread warm(fleet, players.feedback_port(), 1000, 1000, 1100, "S");
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 1200) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  warm.join();
  std::thread sender(fleet, players.feedback_port(), 1000, 1000, 5000, "S");
  const double cpu0 = thread_cpu_ms();
  t.start();
  QEventLoop loop;  // sleeps between events, as the application does
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);
  loop.exec();
  const double share = (thread_cpu_ms() - cpu0) / t.elapsed();
  sender.join();
  std::printf("steady 1000 players x 1/s: main-thread CPU share %.1f %% (%d players)\n", share * 100,
              players.ArrayController_DEVICES().size());
}

}  // namespace

int main(int argc, char** argv) {
  // The registry saves itself after changes: into a folder of this run only.
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  QCoreApplication app(argc, argv);
  tavri::net::IoPool pool(2);
  const double plain = run_plain(pool);
  const double registry = run_registry(pool);
  std::printf("\n%-28s %12s\n", "", "datagrams/s");
  std::printf("%-28s %12.0f\n", "plain receive loop (ref)", plain);
  std::printf("%-28s %12.0f\n", "registry on main thread", registry);
  std::printf("%-28s %12.2f\n", "ratio registry/ref", registry / plain);

  std::printf("\n%-44s %12s %12s %8s\n", "", "all in", "longest stall", "rebuilds");
  run_burst(pool, false);
  run_burst(pool, true);
  run_steady(pool);
  return 0;
}
