#pragma once
#include <QHash>
#include <QMap>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "api/api_routes.h"
#include "api/api_server.h"
#include "api/api_uploads.h"
#include "core/record.h"

namespace tavri {

struct Controllers;

// The JSON API of a running server: the listener, its routes, and the
// events it streams (players coming and going, commands, alerts).
class ApiService : public QObject {
  Q_OBJECT
 public:
  ApiService(Controllers& controllers, api::ServerConfig config, QObject* parent = nullptr);
  ~ApiService() override;

  bool start(QString& error);
  void stop();
  quint16 port() const;
  // An event for every open stream; on the main thread.
  void publish(const QString& event, const QJsonObject& data);
  const api::Counters& counters() const { return server_->counters(); }
  ApiUploads& uploads() { return uploads_; }
  // Every event also goes to `tap` (a site's broker link), from any thread.
  // Set once, before start.
  void set_event_tap(std::function<void(const std::string& event, const std::string& json)> tap) {
    tap_ = std::move(tap);
  }
  // A request that came other than by HTTP (a hub's, signed), with its
  // caller set: the roles' table, the routes and the audit, as for HTTP.
  void answer(api::Request request, api::Respond respond);
  ApiRoutes& routes() { return routes_; }

 private:
  struct Seen {
    bool online = false;
    qint64 heard_ms = 0;
    QString name, list;
    int device = -1, player = -1;  // the reported status_device and status_player
  };
  // Each feedback: a new player, a new name or list, back online.
  void heard(const Record& player);
  // Every second: who fell silent, and who was removed.
  void watch_players();

  void emit_event(const std::string& event, const std::string& json);

  Controllers& c_;
  api::Audit audit_;
  std::function<void(const std::string&, const std::string&)> tap_;
  ApiRoutes routes_;
  ApiUploads uploads_;
  std::unique_ptr<api::ApiServer> server_;
  QTimer presence_;
  QHash<QString, Seen> seen_;
  QMap<QString, QString> command_texts_;  // by command, not yet streamed
};

}  // namespace tavri
