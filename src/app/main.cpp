#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/api_service.h"
#include "app/controllers.h"
#include "app/service_main.h"
#include "sites/site_link.h"
#include "core/bus.h"
#include "ui/app_icon.h"
#include "ui/desk_audit.h"
#include "ui/desktop_notifier.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

namespace {

bool has_display() {
  if (std::getenv("QT_QPA_PLATFORM")) return true;
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

const std::string kUsage = std::string("Usage: tavri_av_server [--headless] [--config FILE]\n") + tavri::app::kSignageServer +
                          "This is its window; tavri-av-serverd is the service alone, without any GUI library.\n\n"
                          "  --headless      run without a window (tavri-av-serverd does the same and is lighter)\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace tavri;
  const app::Program program{"tavri_av_server", kUsage.c_str(), true};
  int exit_code = 0;
  auto start = app::read_start(argc, argv, program, &exit_code);
  if (!start) return exit_code;
  if (!start->options.headless && !has_display()) {
    std::fprintf(stderr,
                 "No display: run the service as 'tavri-av-serverd' (operated through its API, its web console and "
                 "tavri-avctl), or the window on a virtual display as 'xvfb-run -a %s' (see the README).\n",
                 argv[0]);
    return 2;
  }
  if (!app::claim(*start, program, &exit_code)) return exit_code;
  if (start->options.headless) {
    std::fprintf(stderr, "tavri_av_server: running without a window; tavri-av-serverd is the lighter way to do so.\n");
    return app::run_headless(argc, argv, *start);
  }

  QApplication application(argc, argv);
  application.setApplicationName("tavri_av_server");  // where settings and files are kept: never changes
  application.setApplicationDisplayName("tavri AV server");  // what dialogs and windows are titled
  application.setDesktopFileName("tavri-av-server");
  application.setWindowIcon(QIcon(QPixmap::fromImage(app_icon(256))));

  app::quit_on_signals(application);
  app::apply_staged_restore();

  QtDialogs dialogs;
  // Nothing before the main loop waits for a person: the HTTP server, the
  // player socket and the saves come up whatever start-up has to say.
  dialogs.defer_alerts(true);
  Controllers controllers(Bus::instance(), dialogs, app::players_config(start->settings));
  MainWindow window({controllers.app, controllers.file_list, controllers.playlists,
                            controllers.playlist_editor, controllers.schedule, controllers.schedule_view,
                            controllers.udp_feedback, Bus::instance(), dialogs,
                            &controllers.history, &controllers.groups, &controllers.announcement});
  dialogs.set_parent(&window);
  app::Service service(controllers);
  // The desk is the box's own admin: what it changes is on record too.
  desk_audit::set_recorder([&controllers](const QString& operation, const QString& arguments, const QString& result) {
    if (history::HistoryStore* store = controllers.history.store())
      store->record(history::AuditEntry{QDateTime::currentMSecsSinceEpoch(), "desk (admin)", "desk", operation, arguments, result});
  });
  controllers.history.set_notifier([&service, &window, desktop = start->settings.desktop_alerts](const QString& title,
                                                                                         const QString& text) {
    window.show_alert(title, text);
    if (desktop) notify_desktop(title, text);
    if (service.api) service.api->publish("offline-alert", {{"title", title}, {"text", text}});
  });
  QObject::connect(&controllers.server, &Server::state_changed, &window, &MainWindow::show_server_state);
  window.show_server_state(controllers.server.state_text());
  controllers.app.set_windows(window.tool_windows());

  QObject::connect(&application, &QApplication::aboutToQuit, [&] {
    service.site.reset();
    if (service.api) service.api->stop();
    window.save_dock_state();
    controllers.app.applicationWillTerminate();
  });

  // Default places, used until a saved arrangement is restored: the panes
  // share the screen out, nothing overlaps or hangs off its edge.
  window.show();
  window.default_layout();
  controllers.app.applicationDidFinishLaunching();  // the map applies its saved state once loaded
  window.restore_dock_state();
  // The window is operated without the API: one that cannot listen (another
  // user's server holds the port) is said, not fatal.
  if (!service.start(start->settings, start->api))
    dialogs.alert("The API is not available.", "Its port is taken or cannot be opened; the window works as before.", {"OK"});
  dialogs.defer_alerts(false);
  return application.exec();
}
