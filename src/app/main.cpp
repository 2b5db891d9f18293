#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "api/api_service.h"
#include "api/api_token.h"
#include "app/headless_dialogs.h"
#include "app/server_config.h"
#include "core/state_archive.h"
#include "app/service_notify.h"
#include "controllers.h"
#include "core/bus.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/time_zone.h"
#include "history/history_store.h"
#include "ui/app_icon.h"
#include "ui/desktop_notifier.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

namespace {

constexpr int kUsageError = 64;

int signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const char c = 1;
  [[maybe_unused]] auto n = ::write(signal_pipe[1], &c, 1);
}

// SIGTERM and SIGINT take the quit path, so nothing unsaved is lost; one
// that came during start-up is taken as soon as the main loop runs.
void quit_on_signals(QCoreApplication& application) {
  if (signal_pipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &application);
  QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QCoreApplication::quit(); });
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

struct Options {
  bool headless = false, help = false, version = false;
  const char* config = nullptr;
};

const char kUsage[] =
    "Usage: tavri_av_server [--headless] [--config FILE]\n"
    "A signage server: content, playlists and schedules published to media players over HTTP (port 5003),\n"
    "their feedback (UDP 5001) and commands (UDP 5002), with a JSON API (default 127.0.0.1:5080).\n"
    "\n"
    "  --headless      run without a window: no display is needed; alerts take their safe answer\n"
    "  --config FILE   the configuration file (default ~/.config/tavri_av_server/server.conf)\n"
    "  --help          show this and exit\n"
    "  --version       show the version and exit\n";

// Nothing, after saying why on stderr, for a command line that is not ours.
std::optional<Options> parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--headless")) o.headless = true;
    else if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) o.help = true;
    else if (!std::strcmp(a, "--version")) o.version = true;
    else if (!std::strcmp(a, "--config") && i + 1 < argc) o.config = argv[++i];
    else if (!std::strncmp(a, "--config=", 9)) o.config = a + 9;
    else {
      std::fprintf(stderr, "tavri_av_server: %s '%s'\nTry 'tavri_av_server --help'.\n",
                   !std::strcmp(a, "--config") ? "a file must follow" : "unknown option", a);
      return std::nullopt;
    }
  }
  return o;
}

// The API's settings, with its token; nothing (after saying why) when the
// token cannot be had.
std::optional<tavri::api::ServerConfig> api_config(const tavri::ServerSettings& settings) {
  QString token_path = settings.token_file;
  if (token_path.isEmpty()) {
    QDir().mkpath(tavri::application_folder());
    token_path = tavri::application_folder() + "/api_token";
  }
  std::string error;
  const auto token = tavri::api::load_or_make_token(QFile::encodeName(token_path).toStdString(), error);
  if (!token) {
    std::fprintf(stderr, "tavri_av_server: %s\n", error.c_str());
    return std::nullopt;
  }
  if (!settings.tls_certificate.isEmpty())
    if (const auto problem = tavri::api::tls_problem(QFile::encodeName(settings.tls_certificate).toStdString(),
                                                     QFile::encodeName(settings.tls_key).toStdString())) {
      std::fprintf(stderr, "tavri_av_server: %s\n", problem->c_str());
      return std::nullopt;
    }
  tavri::api::ServerConfig config;
  config.address = settings.api_address.toStdString();
  config.host_names = settings.host_names;
  config.port = settings.api_port;
  config.token = *token;
  config.tls_certificate = QFile::encodeName(settings.tls_certificate).toStdString();
  config.tls_key = QFile::encodeName(settings.tls_key).toStdString();
  // The console's password hash lives beside the token, as private as it.
  config.web = std::make_shared<tavri::api::WebLogin>(
      QFile::encodeName(QFileInfo(token_path).absolutePath() + "/web_password").toStdString());
  return config;
}

// What a running server needs whatever its front end: the settings
// applied, and the API listening.
struct Service {
  tavri::Controllers& controllers;
  std::unique_ptr<tavri::ApiService> api;
  tavri::ServiceNotify systemd;

  bool start(const tavri::ServerSettings& settings, const std::optional<tavri::api::ServerConfig>& config) {
    if (settings.history_retention_days > 0 && controllers.history.store())
      controllers.history.store()->set_retention(qint64(settings.history_retention_days) * 24 * 3600 * 1000);
    if (!settings.content_folder.isEmpty() &&
        QDir(settings.content_folder) != QDir(controllers.file_list.folder_path()))
      controllers.file_list.choose_folder(settings.content_folder);
    if (!config) {
      systemd.ready("API off");
      return true;
    }
    api = std::make_unique<tavri::ApiService>(controllers, *config);
    QString error;
    if (!api->start(error)) {
      tavri::console_log(QString("API NOT STARTED: %1").arg(error));
      api.reset();
      return false;
    }
    const QString line =
        QString("API LISTENING ON %1 PORT %2").arg(QString::fromStdString(config->address)).arg(api->port());
    tavri::console_log(line);
    systemd.ready(line);
    return true;
  }
};

// The players' side as the configuration sizes it.
tavri::PlayerNetworkConfig players_config(const tavri::ServerSettings& settings) {
  tavri::PlayerNetworkConfig config;
  if (settings.max_players > 0) config.max_players = settings.max_players;
  if (settings.command_rate > 0) config.command_rate = settings.command_rate;
  return config;
}

// A backup handed to the API is loaded here, before anything reads the
// saved state. What it says goes to the console (and the journal).
void apply_staged_restore() {
  // A backup's history is copied row by row into a file of our own making.
  tavri::state_archive::set_history_rebuild(
      [](const QString& source, const QString& target) { return tavri::history::rebuild_history(source, target); });
  QString error;
  bool applied = false;
  if (!tavri::state_archive::apply_staged(&error, &applied))
    tavri::console_log(QString("RESTORE FAILED: %1").arg(error));
  else if (applied)
    tavri::console_log("RESTORED the saved state from a backup");
}

}  // namespace

int main(int argc, char** argv) {
  // First of all: a stop request during start-up must still save and quit.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) == 0) {
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
  }
  tavri::read_time_zone_once();
  const auto options = parse_options(argc, argv);
  if (!options) return kUsageError;
  if (options->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options->version) {
    std::printf("tavri_av_server %s\n", TAVRI_VERSION);
    return 0;
  }
  // A bad configuration stops us before anything starts.
  QString error;
  const QString config_path = options->config ? QString::fromLocal8Bit(options->config) : tavri::default_config_path();
  const auto settings = tavri::read_settings(config_path, options->config != nullptr, error);
  if (!settings) {
    std::fprintf(stderr, "tavri_av_server: %s\n", error.toLocal8Bit().constData());
    return tavri::kConfigError;
  }
  if (!options->headless && !has_display()) {
    std::fprintf(stderr,
                 "No display: run it as 'tavri_av_server --headless' (operated through its API and tavri-avctl), "
                 "or on a virtual display as 'xvfb-run -a %s' (see the README).\n",
                 argv[0]);
    return 2;
  }
  if (!take_instance_lock()) return 1;
  std::optional<tavri::api::ServerConfig> api;
  if (settings->api_enabled && !(api = api_config(*settings))) return tavri::kConfigError;

  if (options->headless) {
    QCoreApplication application(argc, argv);
    application.setApplicationName("tavri_av_server");
    quit_on_signals(application);
    apply_staged_restore();
    tavri::HeadlessDialogs dialogs;
    tavri::Controllers controllers(tavri::Bus::instance(), dialogs, players_config(*settings));
    controllers.app.set_headless();
    Service service{controllers, nullptr, {}};
    controllers.history.set_notifier([&service](const QString& title, const QString& text) {
      tavri::console_log(QString("OFFLINE ALERT: %1 - %2").arg(title, text));
      if (service.api) service.api->publish("offline-alert", {{"title", title}, {"text", text}});
    });
    dialogs.set_listener([&service](const QString& message, const QString& informative, const QString& answer) {
      if (service.api)
        service.api->publish("alert", {{"message", message}, {"informative", informative}, {"answer", answer}});
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&] {
      service.systemd.stopping();
      if (service.api) service.api->stop();
      controllers.app.applicationWillTerminate();
    });
    controllers.app.applicationDidFinishLaunching();
    // Without a window the API is the only way in: no API, no service.
    if (!service.start(*settings, api)) return 1;
    return application.exec();
  }

  QApplication application(argc, argv);
  application.setApplicationName("tavri_av_server");
  application.setDesktopFileName("tavri-av-server");
  application.setWindowIcon(QIcon(QPixmap::fromImage(tavri::app_icon(256))));

  quit_on_signals(application);
  apply_staged_restore();

  tavri::QtDialogs dialogs;
  // Nothing before the main loop waits for a person: the HTTP server, the
  // player socket and the saves come up whatever start-up has to say.
  dialogs.defer_alerts(true);
  tavri::Controllers controllers(tavri::Bus::instance(), dialogs, players_config(*settings));
  tavri::MainWindow window({controllers.app, controllers.file_list, controllers.playlists,
                            controllers.playlist_editor, controllers.schedule, controllers.schedule_view,
                            controllers.udp_feedback, tavri::Bus::instance(), dialogs,
                            &controllers.history});
  dialogs.set_parent(&window);
  Service service{controllers, nullptr, {}};
  controllers.history.set_notifier([&service, &window, desktop = settings->desktop_alerts](const QString& title,
                                                                                         const QString& text) {
    window.show_alert(title, text);
    if (desktop) tavri::notify_desktop(title, text);
    if (service.api) service.api->publish("offline-alert", {{"title", title}, {"text", text}});
  });
  QObject::connect(&controllers.server, &tavri::Server::state_changed, &window, &tavri::MainWindow::show_server_state);
  window.show_server_state(controllers.server.state_text());
  controllers.app.set_windows(window.tool_windows());

  QObject::connect(&application, &QApplication::aboutToQuit, [&] {
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
  if (!service.start(*settings, api))
    dialogs.alert("The API is not available.", "Its port is taken or cannot be opened; the window works as before.", {"OK"});
  dialogs.defer_alerts(false);
  return application.exec();
}
