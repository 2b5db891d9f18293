#pragma once
#include <memory>
#include <optional>

#include "api/api_server.h"
#include "app/server_config.h"
#include "app/service_notify.h"
#include "players/udp_feedback.h"

class QCoreApplication;

namespace tavri {

class ApiService;
struct Controllers;
namespace sites {
class SiteLink;
class HubClient;
}

namespace app {

struct Options {
  bool headless = false, help = false, version = false;
  const char* config = nullptr;
};

// What both programs settle before anything starts.
struct StartUp {
  Options options;
  ServerSettings settings;
  std::optional<api::ServerConfig> api;
};

// The program's name in its messages, and its usage text up to the
// options both programs take.
struct Program {
  const char* name;
  const char* usage;
  bool takes_headless;  // the window's compatibility option
};
inline constexpr char kSignageServer[] =
    "A signage server: content, playlists and schedules published to media players over HTTP (port 5003),\n"
    "their feedback (UDP 5001) and commands (UDP 5002), with a JSON API and web console (default 127.0.0.1:5080).\n";

// Signals, options and settings. Nothing, with *exit_code set, when the
// program ends here (help, version, a bad command line or configuration).
std::optional<StartUp> read_start(int argc, char** argv, const Program& program, int* exit_code);
// One instance per user, and the API's token; false (after saying why) when
// the program cannot go on.
bool claim(StartUp& start, const Program& program, int* exit_code);

// SIGTERM and SIGINT take the quit path once the main loop runs.
void quit_on_signals(QCoreApplication& application);
// A staged backup is loaded before anything reads the saved state.
void apply_staged_restore();
// What the restore at this start did (done, and what), if there was one.
std::optional<std::pair<bool, QString>>& restore_outcome();
PlayerNetworkConfig players_config(const ServerSettings& settings);

// What a running server needs whatever its front end: the settings
// applied, and the API listening.
struct Service {
  Controllers& controllers;
  std::unique_ptr<ApiService> api;
  std::unique_ptr<sites::SiteLink> site;  // gone before the API it runs requests through
  std::shared_ptr<sites::HubClient> hub;   // [sites] role=hub: the sites' view
  ServiceNotify systemd;

  explicit Service(Controllers& c);
  ~Service();
  bool start(const ServerSettings& settings, const std::optional<api::ServerConfig>& config);
};

// The service without a window, until it is told to stop.
int run_headless(int argc, char** argv, const StartUp& start);

}  // namespace app
}  // namespace tavri
