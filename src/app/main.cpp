#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "controllers.h"
#include "core/bus.h"
#include "core/folders.h"
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

// One instance per user: a second one would fight over the saved files and
// the ports. Held until the process ends; the kernel drops it on a crash.
bool take_instance_lock() {
  const QString path = tavri::app_support_folder() + "/tavri_av_server.lock";
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // a folder we cannot write: the saves will say so
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  std::fprintf(stderr, "tavri_av_server is already running for this user (%s is locked); not starting a second one.\n",
               QFile::encodeName(path).constData());
  return false;
}

bool has_display() {
  if (std::getenv("QT_QPA_PLATFORM")) return true;
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  // First of all: a stop request during start-up must still save and quit.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) == 0) {
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
  }
  if (!has_display()) {
    std::fprintf(stderr,
                 "No display: run it as 'xvfb-run -a %s', or as the user service that runs it on a virtual display "
                 "(see the README).\n",
                 argv[0]);
    return 2;
  }
  if (!take_instance_lock()) return 1;
  QApplication application(argc, argv);
  application.setApplicationName("tavri_av_server");
  application.setDesktopFileName("tavri-av-server");
  application.setWindowIcon(QIcon(QPixmap::fromImage(tavri::app_icon(256))));

  // SIGTERM and SIGINT take the quit path, so nothing unsaved is lost; one
  // that came during start-up is taken as soon as the main loop runs.
  if (signal_pipe[0] >= 0) {
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QApplication::quit(); });
  }

  tavri::QtDialogs dialogs;
  // Nothing before the main loop waits for a person: the HTTP server, the
  // player socket and the saves come up whatever start-up has to say.
  dialogs.defer_alerts(true);
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
  dialogs.defer_alerts(false);
  return application.exec();
}
