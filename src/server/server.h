#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
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
// folder: created on INIT_SERVER, restarted on every SET_SERVER_PATH. When
// the port is taken it says so once and tries again by itself, ever less
// often, until it serves.
class Server : public QObject {
  Q_OBJECT
 public:
  static constexpr std::uint16_t kPort = 5003;
  static constexpr char kServiceType[] = "_http._tcp.";
  static constexpr int kFirstRetryMs = 1000;
  static constexpr int kLongestRetryMs = 30000;
  // The HTTP component's diagnostics, in the application folder.
  static constexpr char kLogFile[] = "http.log";
  static constexpr std::size_t kLogFileBytes = 1024 * 1024;
  static constexpr std::size_t kLogFiles = 3;

  Server(Bus& bus, Dialogs& dialogs, std::uint16_t port = kPort, net::IoPool* pool = nullptr,
         QObject* parent = nullptr);
  ~Server() override;

  void INIT_SERVER();
  void CHANGE_SERVER_PATH(const QVariant& path);
  void START_SERVER();

  QString document_root() const { return document_root_; }
  http::HttpServer* http_server() const { return http_server_.get(); }
  // What the server does now, for the operator: serving which folder with
  // how many connections, or why not.
  QString state_text() const { return state_; }
  void set_retry_delays_for_tests(int first_ms, int longest_ms);

 signals:
  void state_changed(const QString& text);

 private:
  void set_state(const QString& text);
  void show_connections();
  void start_failed(const QString& why);

  Bus& bus_;
  Dialogs& dialogs_;
  std::uint16_t port_;
  net::IoPool* pool_;
  std::shared_ptr<http::HttpServer> http_server_;
  QString document_root_;
  QString state_;
  QTimer retry_;
  int first_retry_ms_ = kFirstRetryMs;
  int longest_retry_ms_ = kLongestRetryMs;
  bool failure_shown_ = false;  // the alert of this outage is out
  QTimer connections_poll_;
};

}  // namespace tavri
