#include "server.h"

#include <QDir>
#include <QFileInfo>
#include <spdlog/sinks/rotating_file_sink.h>

#include <algorithm>

#include "core/console.h"
#include "core/folders.h"
#include "core/notifications.h"
#include "net/io_pool.h"
#include "server/http_log.h"
#include "server/http_server.h"

namespace tavri {
namespace {

// The component's warnings and errors (bad requests, missing files, files
// that cannot be opened, publication failures) also go to a bounded,
// rolling file in the application folder, where the operator can read them.
void open_log_file() {
  static std::shared_ptr<spdlog::sinks::sink> file_sink;
  static QString opened_path;
  const QString path = application_folder() + "/" + Server::kLogFile;
  if (path == opened_path) return;
  if (file_sink) http::log_outputs()->remove_sink(file_sink);
  file_sink.reset();
  opened_path = path;
  QDir().mkpath(application_folder());
  try {
    file_sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(QFile::encodeName(path).toStdString(),
                                                                       Server::kLogFileBytes, Server::kLogFiles);
    http::log_outputs()->add_sink(file_sink);
    http::log()->flush_on(spdlog::level::info);
  } catch (const spdlog::spdlog_ex& e) {
    console_log(QString("HTTP log file not opened: %1").arg(e.what()));
  }
}

}  // namespace

Server::Server(Bus& bus, Dialogs& dialogs, std::uint16_t port, net::IoPool* pool, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs), port_(port), pool_(pool) {
  bus_.register_observer(this, note::START_SERVER, [this](const QVariant&) { START_SERVER(); });
  bus_.register_observer(this, note::INIT_SERVER, [this](const QVariant&) { INIT_SERVER(); });
  bus_.register_observer(this, note::SET_SERVER_PATH, [this](const QVariant& v) { CHANGE_SERVER_PATH(v); });
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, &Server::START_SERVER);
  connections_poll_.setInterval(1000);
  connect(&connections_poll_, &QTimer::timeout, this, &Server::show_connections);
  set_state("Not serving: no content folder chosen");
}

Server::~Server() {
  bus_.unregister(this);
  if (http_server_) http_server_->stop();
}

void Server::set_retry_delays_for_tests(int first_ms, int longest_ms) {
  first_retry_ms_ = first_ms;
  longest_retry_ms_ = longest_ms;
}

void Server::INIT_SERVER() {
  console_log("SERVER INIT");
  open_log_file();
  if (http_server_) http_server_->stop();
  // Connections are served on every core; an injected pool serves them itself.
  http_server_ = pool_ ? http::HttpServer::create(*pool_)
                       : http::HttpServer::create(http::HttpServer::default_pool(), &net::IoGroup::shared());
  http_server_->set_type(kServiceType);
  http_server_->set_port(port_);
}

void Server::CHANGE_SERVER_PATH(const QVariant& path) {
  if (http_server_ && http_server_->is_running()) {
    http_server_->stop();
    console_log("SERVER STOP");
  }
  console_log("SERVER CHANGE PATH");
  document_root_ = path.toString();
  retry_.stop();
  retry_.setInterval(0);
  START_SERVER();
}

void Server::START_SERVER() {
  if (document_root_.isEmpty() || !http_server_) return;
  connections_poll_.stop();
  if (!QFileInfo(QDir::cleanPath(document_root_)).isDir()) {
    console_log(QString("SERVER NOT STARTED: content folder not reachable: %1").arg(document_root_));
    set_state(QString("Not serving: content folder not reachable: %1").arg(document_root_));
    return;
  }
  if (http_server_->is_running()) return;
  http_server_->set_document_root(document_root_.toStdString());
  net::StreamError error;
  if (!http_server_->start(&error)) {
    start_failed(QString::fromStdString(error.text()));
    return;
  }
  retry_.setInterval(0);
  failure_shown_ = false;
  console_log("SERVER START");
  show_connections();
  connections_poll_.start();
}

// The alert once per outage; the console line and a new attempt each time,
// waiting twice as long as before up to the longest wait.
void Server::start_failed(const QString& why) {
  console_log("Error starting HTTP Server: " + why);
  const int next = std::clamp(retry_.interval() * 2, first_retry_ms_, longest_retry_ms_);
  retry_.setInterval(next);
  retry_.start();
  set_state(QString("Not serving: %1 (trying again every %2 s)").arg(why).arg(std::max(1, next / 1000)));
  if (failure_shown_) return;
  failure_shown_ = true;
  dialogs_.alert("Sorry, can't create http server",
                 QString("%1 (port %2). It tries again by itself; the window's foot shows when it serves.")
                     .arg(why)
                     .arg(port_),
                 {"OK"});
}

void Server::show_connections() {
  if (!http_server_) return;
  const auto n = http_server_->number_of_connections();
  set_state(QString("Serving %1 on port %2, %3 %4")
                .arg(QDir::cleanPath(document_root_))
                .arg(http_server_->listening_port())
                .arg(n)
                .arg(n == 1 ? "connection" : "connections"));
}

void Server::set_state(const QString& text) {
  if (text == state_) return;
  state_ = text;
  emit state_changed(state_);
}

}  // namespace tavri
