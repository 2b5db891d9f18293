#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "core/bus.h"
#include "core/dialogs.h"

namespace tavri::net {
class IoPool;
}
namespace tavri::http {
class HttpServer;
}

namespace tavri {

// Owns the one HTTP server of the process and keeps it serving the content
// folder: created on INIT_SERVER, restarted on every SET_SERVER_PATH.
class Server : public QObject {
  Q_OBJECT
 public:
  static constexpr std::uint16_t kPort = 5003;
  static constexpr char kServiceType[] = "_http._tcp.";

  Server(Bus& bus, Dialogs& dialogs, std::uint16_t port = kPort, net::IoPool* pool = nullptr,
         QObject* parent = nullptr);
  ~Server() override;

  void INIT_SERVER();
  void CHANGE_SERVER_PATH(const QVariant& path);
  void START_SERVER();

  QString document_root() const { return document_root_; }
  http::HttpServer* http_server() const { return http_server_.get(); }

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  std::uint16_t port_;
  net::IoPool* pool_;
  std::shared_ptr<http::HttpServer> http_server_;
  QString document_root_;
};

}  // namespace tavri
