// Feedback throughput: 1000 simulated players send feedback over loopback as
// fast as the socket takes it. Prints datagrams per second that reach the
// player registry on the main thread, next to a plain receive loop on the
// same socket type (reference: "plain receive loop"), and the ratio.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdio>
#include <thread>

#include "core/bus.h"
#include "core/console.h"
#include "net/io_pool.h"
#include "players/net/datagram_socket.h"
#include "players/udp_feedback.h"
#include "../tests/support/scripted_dialogs.h"
#include "../tests/support/udp_peer.h"

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
  tavri::set_console_listener([](const QString&) {});
  tavri::Bus bus;
  tavri::test::ScriptedDialogs dialogs;
  tavri::PlayerNetworkConfig config;
  config.feedback_port = 0;
  config.command_host = "127.0.0.1";
  tavri::UDP_Feedback players(bus, dialogs, nullptr, config, &pool);
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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  tavri::net::IoPool pool(2);
  const double plain = run_plain(pool);
  const double registry = run_registry(pool);
  std::printf("\n%-28s %12s\n", "", "datagrams/s");
  std::printf("%-28s %12.0f\n", "plain receive loop (ref)", plain);
  std::printf("%-28s %12.0f\n", "registry on main thread", registry);
  std::printf("%-28s %12.2f\n", "ratio registry/ref", registry / plain);
  return 0;
}
