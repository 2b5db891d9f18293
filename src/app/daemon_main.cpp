// The service alone: no window, and no GUI library linked.
#include <string>

#include "app/service_main.h"

namespace {

const std::string kUsage = std::string("Usage: tavri-av-serverd [--config FILE]\n") + tavri::app::kSignageServer +
                          "It needs no display and links no GUI library; alerts take their safe answer.\n\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace tavri;
  const app::Program program{"tavri-av-serverd", kUsage.c_str(), false};
  int exit_code = 0;
  auto start = app::read_start(argc, argv, program, &exit_code);
  if (!start || !app::claim(*start, program, &exit_code)) return exit_code;
  return app::run_headless(argc, argv, *start);
}
