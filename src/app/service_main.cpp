#include "service_main.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "api/api_service.h"
#include "api/api_token.h"
#include "app/controllers.h"
#include "app/headless_dialogs.h"
#include "core/bus.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/state_archive.h"
#include "core/time_zone.h"
#include "history/history_store.h"
#include "schedules/dayparts.h"
#include "sites/hub_client.h"
#include "sites/site_link.h"

namespace tavri::app {
namespace {

constexpr int kUsageError = 64;

int signal_pipe[2] = {-1, -1};

void on_signal(int) {
  const char c = 1;
  [[maybe_unused]] auto n = ::write(signal_pipe[1], &c, 1);
}

// One instance per user: a second one would fight over the saved files and
// the ports. Held until the process ends; the kernel drops it on a crash.
bool take_instance_lock() {
  const QString path = app_support_folder() + "/tavri_av_server.lock";
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // a folder we cannot write: the saves will say so
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  std::fprintf(stderr, "tavri_av_server is already running for this user (%s is locked); not starting a second one.\n",
               QFile::encodeName(path).constData());
  return false;
}

// Nothing, after saying why on stderr, for a command line that is not ours.
std::optional<Options> parse_options(int argc, char** argv, const Program& program) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (program.takes_headless && !std::strcmp(a, "--headless")) o.headless = true;
    else if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) o.help = true;
    else if (!std::strcmp(a, "--version")) o.version = true;
    else if (!std::strcmp(a, "--config") && i + 1 < argc) o.config = argv[++i];
    else if (!std::strncmp(a, "--config=", 9)) o.config = a + 9;
    else {
      std::fprintf(stderr, "%s: %s '%s'\nTry '%s --help'.\n", program.name,
                   !std::strcmp(a, "--config") ? "a file must follow" : "unknown option", a, program.name);
      return std::nullopt;
    }
  }
  return o;
}

// The API's settings, with its token; nothing (after saying why) when the
// token cannot be had.
std::optional<api::ServerConfig> api_config(const ServerSettings& settings, const char* program) {
  QString token_path = settings.token_file;
  if (token_path.isEmpty()) {
    QDir().mkpath(application_folder());
    token_path = application_folder() + "/api_token";
  }
  std::string error;
  const auto token = api::load_or_make_token(QFile::encodeName(token_path).toStdString(), error);
  if (!token) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return std::nullopt;
  }
  if (!settings.tls_certificate.isEmpty())
    if (const auto problem = api::tls_problem(QFile::encodeName(settings.tls_certificate).toStdString(),
                                              QFile::encodeName(settings.tls_key).toStdString())) {
      std::fprintf(stderr, "%s: %s\n", program, problem->c_str());
      return std::nullopt;
    }
  api::ServerConfig config;
  config.address = settings.api_address.toStdString();
  config.host_names = settings.host_names;
  config.port = settings.api_port;
  config.token = *token;
  config.tls_certificate = QFile::encodeName(settings.tls_certificate).toStdString();
  config.tls_key = QFile::encodeName(settings.tls_key).toStdString();
  // The accounts live beside the token, as private as it; the single
  // password of older versions becomes the admin's.
  const QString folder = QFileInfo(token_path).absolutePath();
  config.web = std::make_shared<api::WebLogin>(std::make_shared<api::Accounts>(
      QFile::encodeName(folder + "/accounts.json").toStdString(),
      QFile::encodeName(folder + "/web_password").toStdString()));
  return config;
}

}  // namespace

std::optional<StartUp> read_start(int argc, char** argv, const Program& program, int* exit_code) {
  // First of all: a stop request during start-up must still save and quit.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) == 0) {
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
  }
  read_time_zone_once();
  StartUp start;
  const auto options = parse_options(argc, argv, program);
  if (!options) {
    *exit_code = kUsageError;
    return std::nullopt;
  }
  start.options = *options;
  if (options->help) {
    std::fputs(program.usage, stdout);
    std::fputs("  --config FILE   the configuration file (default ~/.config/tavri_av_server/server.conf)\n"
               "  --help          show this and exit\n"
               "  --version       show the version and exit\n",
               stdout);
    *exit_code = 0;
    return std::nullopt;
  }
  if (options->version) {
    std::printf("%s %s\n", program.name, TAVRI_VERSION);
    *exit_code = 0;
    return std::nullopt;
  }
  // A bad configuration stops us before anything starts.
  QString error;
  const QString config_path = options->config ? QString::fromLocal8Bit(options->config) : default_config_path();
  const auto settings = read_settings(config_path, options->config != nullptr, error);
  if (!settings) {
    std::fprintf(stderr, "%s: %s\n", program.name, error.toLocal8Bit().constData());
    *exit_code = kConfigError;
    return std::nullopt;
  }
  start.settings = *settings;
  return start;
}

bool claim(StartUp& start, const Program& program, int* exit_code) {
  if (!take_instance_lock()) {
    *exit_code = 1;
    return false;
  }
  if (start.settings.api_enabled && !(start.api = api_config(start.settings, program.name))) {
    *exit_code = kConfigError;
    return false;
  }
  return true;
}

// Nothing unsaved is lost: a signal that came during start-up is taken as
// soon as the main loop runs.
void quit_on_signals(QCoreApplication& application) {
  if (signal_pipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &application);
  QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QCoreApplication::quit(); });
}

// The players' side as the configuration sizes it.
PlayerNetworkConfig players_config(const ServerSettings& settings) {
  PlayerNetworkConfig config;
  if (settings.max_players > 0) config.max_players = settings.max_players;
  if (settings.command_rate > 0) config.command_rate = settings.command_rate;
  return config;
}

// A backup handed to the API is loaded here, before anything reads the
// saved state. What it says goes to the console (and the journal).
void apply_staged_restore() {
  // A backup's history is copied row by row into a file of our own making.
  // The record of who changed what stays: it is carried from the file in
  // use into the restored one.
  state_archive::set_history_rebuild([](const QString& source, const QString& target) {
    const QString why = history::rebuild_history(source, target);
    return why.isEmpty() ? history::audit_log::carry(application_folder() + "/" + kHistoryFile, target) : why;
  });
  QString error;
  bool applied = false;
  if (!state_archive::apply_staged(&error, &applied)) {
    console_log(QString("RESTORE FAILED: %1").arg(error));
    restore_outcome() = {false, error};
  } else if (applied) {
    console_log("RESTORED the saved state from a backup");
    restore_outcome() = {true, "The playlists, schedules, registry and history of the backup were loaded at this start."};
  }
}

std::optional<std::pair<bool, QString>>& restore_outcome() {
  static std::optional<std::pair<bool, QString>> outcome;
  return outcome;
}

Service::Service(Controllers& c) : controllers(c) {}
Service::~Service() = default;

bool Service::start(const ServerSettings& settings, const std::optional<api::ServerConfig>& config) {
  if (settings.schedule_horizon_days > 0) dayparts::set_horizon_days(settings.schedule_horizon_days);
  // A restore at this start is told to whoever is notified.
  if (const auto restored = std::exchange(restore_outcome(), std::nullopt))
    controllers.alert_router.restored(restored->first, restored->second);
  if (settings.history_retention_days > 0 && controllers.history.store())
    controllers.history.store()->set_retention(qint64(settings.history_retention_days) * 24 * 3600 * 1000);
  if (!settings.content_folder.isEmpty() &&
      QDir(settings.content_folder) != QDir(controllers.file_list.folder_path()))
    controllers.file_list.choose_folder(settings.content_folder);
  if (!config) {
    systemd.ready("API off");
    return true;
  }
  api = std::make_unique<ApiService>(controllers, *config);
  // Its tap on the API's events is in place before any event is written.
  if (settings.sites.role == sites::SiteSettings::Role::site)
    site = std::make_unique<sites::SiteLink>(controllers, *api, settings.sites, application_folder() + "/site_requests");
  QString error;
  if (!api->start(error)) {
    console_log(QString("API NOT STARTED: %1").arg(error));
    site.reset();
    api.reset();
    return false;
  }
  const QString line =
      QString("API LISTENING ON %1 PORT %2").arg(QString::fromStdString(config->address)).arg(api->port());
  console_log(line);
  if (settings.sites.role == sites::SiteSettings::Role::hub) {
    QFile key_file(QString::fromStdString(settings.sites.hub_key_file));
    const auto key = key_file.open(QIODevice::ReadOnly) ? sites::secret_key_of(key_file.readAll().trimmed().toStdString())
                                                        : std::nullopt;
    if (!key) {
      console_log("HUB NOT STARTED: the hub's key file holds no key (tavri-avctl hub-key create)");
      return false;
    }
    hub = std::make_shared<sites::HubClient>(settings.sites.link, *key, true);
    std::string why;
    if (!hub->start(&why)) {
      console_log(QString("HUB NOT STARTED: %1").arg(QString::fromStdString(why)));
      return false;
    }
    api->routes().set_hub(hub);
    console_log(QString("HUB: CONNECTING TO %1:%2")
                    .arg(QString::fromStdString(settings.sites.link.broker.host))
                    .arg(settings.sites.link.broker.port));
  }
  if (site) {
    if (!site->start(error)) {
      console_log(QString("SITE NOT STARTED: %1").arg(error));
      return false;
    }
  }
  systemd.ready(line);
  return true;
}

int run_headless(int argc, char** argv, const StartUp& start) {
  QCoreApplication application(argc, argv);
  // The name the saved state's folders are found under: the window's too.
  application.setApplicationName("tavri_av_server");
  quit_on_signals(application);
  apply_staged_restore();
  HeadlessDialogs dialogs;
  Controllers controllers(Bus::instance(), dialogs, players_config(start.settings));
  controllers.app.set_headless();
  Service service(controllers);
  controllers.history.set_notifier([&service](const QString& title, const QString& text) {
    console_log(QString("OFFLINE ALERT: %1 - %2").arg(title, text));
    if (service.api) service.api->publish("offline-alert", {{"title", title}, {"text", text}});
  });
  dialogs.set_listener([&service](const QString& message, const QString& informative, const QString& answer) {
    if (service.api)
      service.api->publish("alert", {{"message", message}, {"informative", informative}, {"answer", answer}});
  });
  QObject::connect(&application, &QCoreApplication::aboutToQuit, [&] {
    service.systemd.stopping();
    service.site.reset();
    if (service.api) service.api->stop();
    controllers.app.applicationWillTerminate();
  });
  controllers.app.applicationDidFinishLaunching();
  // Without a window the API is the only way in: no API, no service.
  if (!service.start(start.settings, start.api)) return 1;
  return application.exec();
}

}  // namespace tavri::app
