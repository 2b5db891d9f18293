#include "server.h"

#include <QDir>
#include <QFileInfo>

#include "core/console.h"
#include "core/notifications.h"
#include "net/io_pool.h"
#include "server/http_server.h"

namespace tavri {

Server::Server(Bus& bus, Dialogs& dialogs, std::uint16_t port, net::IoPool* pool, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs), port_(port), pool_(pool) {
  bus_.register_observer(this, note::START_SERVER, [this](const QVariant&) { START_SERVER(); });
  bus_.register_observer(this, note::INIT_SERVER, [this](const QVariant&) { INIT_SERVER(); });
  bus_.register_observer(this, note::SET_SERVER_PATH, [this](const QVariant& v) { CHANGE_SERVER_PATH(v); });
}

Server::~Server() {
  bus_.unregister(this);
  if (http_server_) http_server_->stop();
}

void Server::INIT_SERVER() {
  console_log("SERVER INIT");
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
  START_SERVER();
}

void Server::START_SERVER() {
  if (document_root_.isEmpty() || !http_server_) return;
  if (!QFileInfo(QDir::cleanPath(document_root_)).isDir()) {
    console_log(QString("SERVER NOT STARTED: content folder not reachable: %1").arg(document_root_));
    return;
  }
  http_server_->set_document_root(document_root_.toStdString());
  net::StreamError error;
  if (!http_server_->start(&error)) {
    console_log("Error starting HTTP Server: " + QString::fromStdString(error.text()));
    dialogs_.alert("Sorry, can't create http server", QString(), {"OK"});
    return;
  }
  console_log("SERVER START");
}

}  // namespace tavri
