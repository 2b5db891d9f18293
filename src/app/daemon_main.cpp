// The service alone: no window, and no GUI library linked.
#include "app/service_main.h"

namespace {

const char kUsage[] =
    "Usage: tavri-av-serverd [--config FILE]\n"
    "A signage server: content, playlists and schedules published to media players over HTTP (port 5003),\n"
    "their feedback (UDP 5001) and commands (UDP 5002), operated through its JSON API and web console\n"
    "(default 127.0.0.1:5080) and tavri-avctl. No display is needed; alerts take their safe answer.\n"
    "\n"
    "  --config FILE   the configuration file (default ~/.config/tavri_av_server/server.conf)\n"
    "  --help          show this and exit\n"
    "  --version       show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace tavri;
  const app::Program program{"tavri-av-serverd", kUsage, false};
  int exit_code = 0;
  auto start = app::read_start(argc, argv, program, &exit_code);
  if (!start || !app::claim(*start, program, &exit_code)) return exit_code;
  return app::run_headless(argc, argv, *start);
}
