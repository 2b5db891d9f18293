#include "server.h"

#include "core/console.h"
#include "core/notifications.h"

namespace tavri {

Server::Server(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::START_SERVER, [this](const QVariant&) { START_SERVER(); });
  bus_.register_observer(this, note::INIT_SERVER, [this](const QVariant&) { INIT_SERVER(); });
  bus_.register_observer(this, note::SET_SERVER_PATH,
                         [this](const QVariant& v) { CHANGE_SERVER_PATH(v); });
}

void Server::INIT_SERVER() { console_log("SERVER INIT"); }

void Server::CHANGE_SERVER_PATH(const QVariant& path) {
  console_log("SERVER CHANGE PATH");
  document_root_ = path.toString();
  START_SERVER();
}

void Server::START_SERVER() {}

}  // namespace tavri
