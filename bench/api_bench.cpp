// The JSON API against a registry of 10,000 players, with the controllers
// the service runs: the latency of the player list and of a playlist sent
// to 1,000 players, and the longest stall of a 10 ms main-thread timer
// while they run. Reference in the same run: GET /healthz, which takes the
// same trip through the main thread and does nothing there.
//   build/bench/api_bench 2>/dev/null
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <future>
#include <vector>

#include "api/api_service.h"
#include "app/controllers.h"
#include "app/headless_dialogs.h"
#include "avctl/api_client.h"
#include "core/console.h"
#include "core/time_zone.h"
#include "players/net/wire_protocol.h"
#include "../tests/support/udp_peer.h"
#include "stall_probe.h"

using namespace tavri;

namespace {

constexpr int kPlayers = 10000;
constexpr int kSendTo = 1000;
constexpr int kRounds = 20;
const std::string kToken(64, '7');

struct Row {
  const char* name;
  std::vector<double> ms;
  double stall = 0;
  std::size_t bytes = 0;
};

// Runs the calls on a client thread while the main loop turns.
Row measure(const char* name, avctl::ApiClient& client, const std::string& method, const std::string& target,
            const std::string& body) {
  Row row{name, {}, 0, 0};
  bench::StallProbe probe;
  auto done = std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      QElapsedTimer t;
      t.start();
      const auto reply = client.call(method, target, body);
      row.ms.push_back(t.nsecsElapsed() / 1e6);
      row.bytes = reply.body.size();
      if (reply.status >= 300 || reply.status == 0) std::fprintf(stderr, "%s: %d %s\n", name, reply.status, reply.body.c_str());
    }
  });
  while (done.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  row.stall = probe.stop();
  std::sort(row.ms.begin(), row.ms.end());
  return row;
}

}  // namespace

int main(int argc, char** argv) {
  read_time_zone_once();  // as the application does
  QTemporaryDir home;
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  QCoreApplication app(argc, argv);
  set_console_listener(nullptr);

  test::UdpPeer players_side;  // commands go here, on loopback
  PlayerNetworkConfig net;
  net.feedback_port = 0;
  net.command_host = "127.0.0.1";
  net.command_port = players_side.port();
  HeadlessDialogs dialogs;
  Controllers c(Bus::instance(), dialogs, net);
  c.app.set_headless();
  const std::string sep(wire::kSeparator);
  for (int i = 0; i < kPlayers; ++i) {
    const std::string id = "player-" + std::to_string(i);
    c.udp_feedback.udp_socket_did_receive(
        QByteArray::fromStdString(id + sep + "Screen " + std::to_string(i) + sep + "2" + sep + "1" + sep + "7" + sep +
                                  "3" + sep + "0" + sep + "0"),
        "127.0.0.1");
  }
  c.playlists.append_and_select({{"name", "Lobby"}, {"id", 7}});
  QCoreApplication::processEvents();

  api::ServerConfig config;
  config.port = 0;
  config.token = kToken;
  ApiService service(c, config);
  QString error;
  if (!service.start(error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  avctl::ApiClient client("127.0.0.1", std::to_string(service.port()), kToken);
  QJsonArray ids;
  for (int i = 0; i < kSendTo; ++i) ids.append(QString("player-%1").arg(i));
  const std::string send =
      QJsonDocument(QJsonObject{{"playlist", 7}, {"players", ids}}).toJson(QJsonDocument::Compact).toStdString();

  std::vector<Row> rows;
  rows.push_back(measure("GET /healthz (reference)", client, "GET", "/healthz", {}));
  rows.push_back(measure("GET /api/players (10,000)", client, "GET", "/api/players", {}));
  rows.push_back(measure("  ... ?format=compact (the console's)", client, "GET", "/api/players?format=compact", {}));
  rows.push_back(measure("  ... ?fields=id,name,state&limit=500", client, "GET", "/api/players?fields=id,name,state&limit=500", {}));
  rows.push_back(measure("  ... ?q=screen 99", client, "GET", "/api/players?q=screen%2099", {}));
  rows.push_back(measure("POST /api/send (1,000 players)", client, "POST", "/api/send", send));
  rows.push_back(measure("GET /metrics", client, "GET", "/metrics", {}));

  const double reference = rows[0].ms[rows[0].ms.size() / 2];
  std::printf("%d rounds each, %d players in the registry\n", kRounds, kPlayers);
  std::printf("%-40s %10s %10s %10s %14s %10s\n", "", "median ms", "max ms", "x ref", "longest stall", "bytes");
  for (const Row& r : rows) {
    const double median = r.ms[r.ms.size() / 2];
    std::printf("%-40s %10.2f %10.2f %10.1f %11.1f ms %10zu\n", r.name, median, r.ms.back(), median / reference,
                r.stall, r.bytes);
  }
  service.stop();
  return 0;
}
