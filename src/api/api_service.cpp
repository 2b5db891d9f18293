#include "api/api_service.h"

#include <QJsonDocument>

#include "app/controllers.h"
#include "players/player_status.h"

namespace tavri {

ApiService::ApiService(Controllers& controllers, api::ServerConfig config, QObject* parent)
    : QObject(parent), c_(controllers), routes_(controllers) {
  server_ = std::make_unique<api::ApiServer>(
      std::move(config), [this](api::Request request, api::Respond respond) {
        routes_.handle(std::move(request), std::move(respond));
      });
  routes_.set_counters(&server_->counters());
  UDP_Feedback& players = c_.udp_feedback;
  connect(&players, &UDP_Feedback::last_command_changed, this,
          [this](const QString& text) { publish("command", {{"text", text}}); });
  connect(&players, &UDP_Feedback::command_failed, this, [this](const QString& device_id, int code) {
    publish("command-failed", {{"player", device_id}, {"command", players::command_name(code)}});
  });
  presence_.setInterval(1000);
  connect(&presence_, &QTimer::timeout, this, &ApiService::watch_players);
}

ApiService::~ApiService() { stop(); }

bool ApiService::start(QString& error) {
  std::string why;
  if (!server_->start(why)) {
    error = QString::fromStdString(why);
    return false;
  }
  watch_players();
  presence_.start();
  return true;
}

void ApiService::stop() {
  presence_.stop();
  server_->stop();
}

quint16 ApiService::port() const { return server_->port(); }

void ApiService::publish(const QString& event, const QJsonObject& data) {
  server_->publish(event.toStdString(), QJsonDocument(data).toJson(QJsonDocument::Compact).toStdString());
}

void ApiService::watch_players() {
  const RecordList& devices = c_.udp_feedback.ArrayController_DEVICES();
  const QDateTime now = QDateTime::currentDateTime();
  const bool first = !std::exchange(watched_, true);
  QHash<QString, Seen> next;
  next.reserve(devices.size());
  for (int i = 0; i < devices.size(); ++i) {
    const Record& r = devices.at(i);
    const QString id = r.value("device_id").toString();
    Seen now_seen{players::is_online(r, now), r.value("device_name").toString(), r.value("id_playlist").toString()};
    const auto before = seen_.constFind(id);
    if (!first) {
      if (before == seen_.constEnd())
        publish("player", {{"id", id}, {"change", "added"}, {"name", now_seen.name}, {"online", now_seen.online}});
      else {
        if (before->online != now_seen.online)
          publish("player", {{"id", id}, {"change", now_seen.online ? "online" : "offline"}, {"name", now_seen.name}});
        if (before->name != now_seen.name)
          publish("player", {{"id", id}, {"change", "renamed"}, {"name", now_seen.name}});
        if (before->list != now_seen.list)
          publish("player", {{"id", id}, {"change", "list"}, {"list", now_seen.list}});
      }
    }
    next.insert(id, now_seen);
  }
  if (!first)
    for (auto it = seen_.constBegin(); it != seen_.constEnd(); ++it)
      if (!next.contains(it.key())) publish("player", {{"id", it.key()}, {"change", "removed"}});
  seen_ = std::move(next);
}

}  // namespace tavri
