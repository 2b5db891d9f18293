// tavri_player_sim: plays N media players against a signage server, to
// check the server and its network before the screens are mounted.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fleet.h"

namespace {

tavri::sim::Fleet* running = nullptr;
void on_signal(int) {
  if (running) running->stop();
}

const char kHelp[] = R"(usage: tavri_player_sim [OPTION]...
Plays media players against a signage server: each sends feedback, obeys the
server's commands and downloads the lists and media it is told to load.

  --players N        how many players, 1 to 5000 (default 10)
  --prefix TEXT      their ids are TEXT-0000, TEXT-0001, ... (default SIM)
  --interval S       seconds between a player's feedbacks (default 2, with jitter)
  --target HOST      the server's address for feedback (default 127.0.0.1)
  --broadcast        send feedback to 255.255.255.255 instead of --target
  --server HOST      download from HOST (default: whatever sent the command)
  --bind ADDR        send feedback from this IPv4 address (default 0.0.0.0)
  --interface NAME   take commands from this network interface only
  --loss RATE        drop this share of datagrams both ways, 0 to 1 (default 0)
  --workers N        downloads at once (default 8)
  --duration S       stop after S seconds (default: at SIGINT or SIGTERM)
  --report FILE      write a JSON report per player at the end
  --quiet            no live summary
  --help             this text

Ports: feedback to 5001, commands on 5002, downloads from 5003.
It sends only where it is told: 127.0.0.1 unless --target or --broadcast
say otherwise.
)";

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the archive reader's text and URL types
  tavri::sim::FleetOptions options;
  std::string report;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tavri_player_sim: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--players") options.players = std::atoi(value().c_str());
    else if (a == "--prefix") options.prefix = value();
    else if (a == "--interval") options.interval = std::atof(value().c_str());
    else if (a == "--target") options.target = value();
    else if (a == "--broadcast") options.broadcast = true;
    else if (a == "--server") options.server = value();
    else if (a == "--bind") options.bind = value();
    else if (a == "--interface") options.interface = value();
    else if (a == "--loss") options.loss = std::atof(value().c_str());
    else if (a == "--workers") options.workers = std::atoi(value().c_str());
    else if (a == "--duration") options.duration = std::atof(value().c_str());
    else if (a == "--report") report = value();
    else if (a == "--quiet") quiet = true;
    else {
      std::fprintf(stderr, "tavri_player_sim: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (options.players < 1 || options.players > 5000 || options.interval <= 0 || options.loss < 0 ||
      options.loss > 1 || options.workers < 1) {
    std::fprintf(stderr, "tavri_player_sim: out of range: 1 to 5000 players, an interval above 0, a loss of 0 to 1\n");
    return 2;
  }
  tavri::sim::Fleet fleet(options);
  std::string error;
  if (!fleet.open(error)) {
    std::fprintf(stderr, "tavri_player_sim: %s\n", error.c_str());
    return 1;
  }
  running = &fleet;
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  const bool tty = ::isatty(STDERR_FILENO);
  std::fprintf(stderr, "%d players, feedback to %s:%u every %.1f s\n", options.players,
               options.broadcast ? "255.255.255.255" : options.target.c_str(), options.feedback_port,
               options.interval);
  fleet.run([&](const tavri::sim::FleetSummary& s) {
    if (quiet) return;
    constexpr int kBar = 30;
    const int filled = s.players ? s.ready * kBar / s.players : 0;
    std::fprintf(stderr, "%sonline %d  downloading %d  ready %d  error %d  %.1f MB  failures %d  retries %d  [%s%s]%s",
                 tty ? "\r" : "", s.players, s.downloading, s.ready, s.in_error, double(s.bytes) / 1e6, s.failures,
                 s.retries, std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(kBar - filled), '.').c_str(), tty ? "" : "\n");
  });
  running = nullptr;
  if (!quiet && tty) std::fputc('\n', stderr);
  if (!report.empty()) {
    std::ofstream out(report);
    out << fleet.report_json();
    if (!out) {
      std::fprintf(stderr, "tavri_player_sim: cannot write %s\n", report.c_str());
      return 1;
    }
  }
  return 0;
}
