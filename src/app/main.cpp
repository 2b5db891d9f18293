#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include "controllers.h"
#include "core/bus.h"
#include "ui/app_icon.h"
#include "ui/desktop_notifier.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const char c = 1;
  [[maybe_unused]] auto n = ::write(signal_pipe[1], &c, 1);
}

bool has_display() {
  if (std::getenv("QT_QPA_PLATFORM")) return true;
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  if (!has_display()) {
    std::fprintf(stderr,
                 "No display: run it as 'xvfb-run -a %s', or with 'QT_QPA_PLATFORM=vnc %s' and a VNC viewer.\n",
                 argv[0], argv[0]);
    return 2;
  }
  QApplication application(argc, argv);
  application.setApplicationName("tavri_av_server");
  application.setDesktopFileName("tavri-av-server");
  application.setWindowIcon(QIcon(QPixmap::fromImage(tavri::app_icon(256))));

  tavri::QtDialogs dialogs;
  tavri::Controllers controllers(tavri::Bus::instance(), dialogs);
  tavri::MainWindow window({controllers.app, controllers.file_list, controllers.playlists,
                            controllers.playlist_editor, controllers.schedule, controllers.schedule_view,
                            controllers.udp_feedback, tavri::Bus::instance(), dialogs,
                            &controllers.history});
  dialogs.set_parent(&window);
  controllers.history.set_notifier([](const QString& title, const QString& text) { tavri::notify_desktop(title, text); });
  QObject::connect(&controllers.server, &tavri::Server::state_changed, &window, &tavri::MainWindow::show_server_state);
  window.show_server_state(controllers.server.state_text());
  controllers.app.set_windows(window.tool_windows());

  // SIGTERM and SIGINT take the quit path, so nothing unsaved is lost.
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) == 0) {
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QApplication::quit(); });
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
  }
  QObject::connect(&application, &QApplication::aboutToQuit, [&] {
    window.save_dock_state();
    controllers.app.applicationWillTerminate();
  });

  // Default places, used until a saved arrangement is restored: the panes
  // share the screen out, nothing overlaps or hangs off its edge.
  window.show();
  window.default_layout();
  controllers.app.applicationDidFinishLaunching();  // the map applies its saved state once loaded
  window.restore_dock_state();
  return application.exec();
}
