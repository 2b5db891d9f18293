#include "sites/site_link.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include "api/api_routes.h"
#include "api/api_service.h"
#include "api/web_routes.h"
#include "app/controllers.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/main_queue.h"
#include "history/history_store.h"
#include "players/player_status.h"
#include "sites/mqtt_link.h"
#include "sites/site_media.h"

namespace tavri::sites {

namespace {

constexpr qint64 kPlayerIntervalMs = 5000;
constexpr qint64 kSeenIntervalMs = 30000;
constexpr int kRefusalsRecordedPerSecond = 20;

// A player's id as one level of a topic and one segment of a path.
QString id_level(const QString& id) { return QString::fromLatin1(QUrl::toPercentEncoding(id)); }

}  // namespace

SiteLink::SiteLink(Controllers& controllers, ApiService& api, SiteSettings settings, QString nonce_file, QObject* parent)
    : QObject(parent),
      c_(controllers),
      api_(api),
      settings_(std::move(settings)),
      nonce_file_(std::move(nonce_file)),
      guard_(settings_.max_request_age_ms) {
  if (QFile file(nonce_file_); file.open(QIODevice::ReadOnly))
    guard_.load(file.readAll().toStdString(), QDateTime::currentMSecsSinceEpoch());
  shared_ = std::make_shared<Shared>(std::make_unique<MqttLink>(
      settings_.link,
      [this](const std::string& topic, const std::string& payload) {
        if (topic.find("/requests/") == std::string::npos) return;
        post_to(this, [this, payload] { on_request(payload); });
      },
      [this](bool connected, const std::string& why) {
        post_to(this, [this, connected, why = QString::fromStdString(why)] { on_connection(connected, why); });
      }), site_topic(settings_.name));
  link_ = shared_->link.get();
  FetchOptions fetching;
  fetching.ca_file = settings_.origin_ca_file;
  media_ = std::make_unique<SiteMedia>(c_.file_list, api_.uploads(), fetching);
  api_.set_event_tap([shared = shared_](const std::string& event, const std::string& json) {
    // On any thread: the link takes messages from any.
    if (!shared->link->connected()) return;
    shared->link->publish(shared->topic + "events",
                          "{\"event\":" + api::json_string(event) + ",\"data\":" + json + "}", 0, false);
    if (event != "player") return;
    const QString id = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object().value("id").toString();
    const std::lock_guard lock(shared->mutex);
    if (!id.isEmpty()) shared->named.insert(id);
  });
  tick_.setInterval(1000);
  connect(&tick_, &QTimer::timeout, this, [this] {
    publish_state(false);
    publish_players();
    next_refusal_second();
    // When the site was last heard: what the hub shows of a site gone dark.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (link_->connected() && now - seen_ms_ >= kSeenIntervalMs) {
      seen_ms_ = now;
      link_->publish(site_topic(settings_.name) + "seen", std::to_string(now), 0, true);
    }
  });
}

SiteLink::~SiteLink() {
  tick_.stop();
  media_.reset();
  // Leaving cleanly sends no last will: the hub is told here.
  if (link_->connected())
    link_->publish(site_topic(settings_.name) + "state", settings_.link.will_payload, 1, true);
  // The API's tap may still publish: to a link that has left the broker.
  link_->stop();
}

bool SiteLink::start(QString& error) {
  std::string why;
  if (!link_->start(&why)) {
    error = QString::fromStdString(why);
    return false;
  }
  tick_.start();
  console_log(QString("SITE %1: CONNECTING TO %2:%3").arg(QString::fromStdString(settings_.name),
                                                          QString::fromStdString(settings_.link.broker.host))
                  .arg(settings_.link.broker.port));
  return true;
}

bool SiteLink::connected() const { return link_ && link_->connected(); }

void SiteLink::on_connection(bool connected, const QString& why) {
  console_log(connected ? QString("SITE %1: CONNECTED TO THE BROKER").arg(QString::fromStdString(settings_.name))
                        : QString("SITE %1: NOT CONNECTED TO THE BROKER: %2").arg(QString::fromStdString(settings_.name), why));
  if (!connected) return;
  // The broker may have lost what it kept (or kept our last will): all anew.
  publish_state(true);
  seen_ms_ = 0;
  const RecordList& devices = c_.udp_feedback.ArrayController_DEVICES();
  for (int i = 0; i < devices.size(); ++i) dirty_.insert(devices.at(i).value("device_id").toString());
  sent_ms_.clear();
  publish_players();
}

void SiteLink::publish_state(bool force) {
  if (!link_->connected()) return;
  const QDateTime now = QDateTime::currentDateTime();
  const RecordList& devices = c_.udp_feedback.ArrayController_DEVICES();
  int online = 0;
  QSet<QString> online_ids;
  for (int i = 0; i < devices.size(); ++i)
    if (players::is_online(devices.at(i), now)) {
      ++online;
      online_ids.insert(devices.at(i).value("device_id").toString());
    }
  QJsonObject groups;
  for (const QString& name : c_.groups.names()) {
    const QStringList members = c_.groups.members(name);
    int on = 0;
    for (const QString& id : members) on += online_ids.contains(id);
    groups[name] = QJsonObject{{"players", int(members.size())}, {"online", on}};
  }
  QJsonArray alerts;
  for (const auto& a : c_.history.open_alerts())
    alerts.append(QJsonObject{{"title", a.title}, {"text", a.text}, {"players", QJsonArray::fromStringList(a.ids)}});
  const QJsonObject state{{"name", QString::fromStdString(settings_.name)},
                          {"version", TAVRI_VERSION},
                          {"connected", true},
                          {"players", QJsonObject{{"online", online}, {"offline", int(devices.size()) - online}}},
                          {"groups", groups},
                          {"announcement", announcement_json(c_.announcement)},
                          {"alerts", alerts}};
  const QByteArray text = QJsonDocument(state).toJson(QJsonDocument::Compact);
  if (!force && text == last_state_) return;
  last_state_ = text;
  link_->publish(site_topic(settings_.name) + "state", text.toStdString(), 1, true);
}

void SiteLink::publish_players() {
  {
    const std::lock_guard lock(shared_->mutex);
    dirty_.unite(std::exchange(shared_->named, {}));
  }
  if (dirty_.isEmpty() || !link_->connected()) return;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  for (auto it = dirty_.begin(); it != dirty_.end();) {
    const QString id = *it;
    if (now - sent_ms_.value(id, 0) < kPlayerIntervalMs) {
      ++it;
      continue;
    }
    it = dirty_.erase(it);
    sent_ms_.insert(id, now);
    api::Request request;
    request.method = "GET";
    request.path = "/api/players/" + id_level(id).toStdString();
    request.client = "site";
    request.caller = {api::Caller::Kind::hub, "site", api::Role::viewer, {}};
    const std::string topic = site_topic(settings_.name) + "players/" + id_level(id).toStdString();
    // A player that is gone leaves no retained message behind.
    api_.answer(std::move(request), [shared = shared_, topic](api::Response response) {
      if (response.status == 200) shared->link->publish(topic, response.body, 1, true);
      else if (response.status == 404) shared->link->publish(topic, {}, 1, true);
    });
  }
}

void SiteLink::on_request(const std::string& payload) {
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  Opened opened = open(payload, settings_.hub_key, settings_.name, now, guard_);
  if (!opened.request) return refuse(opened);
  // Taken once, even across a restart.
  if (!nonce_file_.isEmpty()) write_file_atomically(nonce_file_, QByteArray::fromStdString(guard_.save()));
  const Request& r = *opened.request;
  api::Request request;
  request.method = r.method;
  request.path = r.path;
  request.query = r.query;
  request.body = r.body;
  request.client = "broker";
  request.content_type = "application/json";
  request.caller = {api::Caller::Kind::hub, "hub", settings_.hub_role, {}};
  if (r.media.empty()) return run(std::move(request), r.id);
  // The media first, then the operation that uses them; a medium that
  // cannot be fetched or is not what was signed stops both.
  QStringList names;
  for (const Media& m : r.media)
    names << QString("%1 (%2 bytes, sha256 %3) from %4")
                 .arg(QString::fromStdString(m.name)).arg(m.size)
                 .arg(QString::fromStdString(m.sha256), QString::fromStdString(m.url));
  api::Request upload = request;
  upload.method = "PUT";
  upload.path = "/api/content/medium";
  if (const auto why = api::web::forbidden(upload, upload.caller)) {
    audit("FETCH MEDIA", names.join("; "), "refused: " + QString::fromStdString(*why));
    return shared_->reply(r.id, 403, api::error_body(*why));
  }
  media_->fetch(r.media, request.caller, [this, request = std::move(request), id = r.id, names](const QString& failure) mutable {
    audit("FETCH MEDIA", names.join("; "), failure.isEmpty() ? "done" : "refused: " + failure);
    if (!failure.isEmpty()) return shared_->reply(id, 502, api::error_body(failure.toStdString()));
    run(std::move(request), id);
  });
}

void SiteLink::run(api::Request request, const std::string& id) {
  api_.answer(std::move(request), [shared = shared_, id](api::Response response) {
    shared->reply(id, response.status, response.body);
  });
}

void SiteLink::audit(const QString& operation, const QString& arguments, const QString& result, QString who) {
  if (who.isEmpty()) {
    const std::string_view role = api::role_name(settings_.hub_role);
    who = QString("hub (%1)").arg(QString::fromUtf8(role.data(), qsizetype(role.size())));
  }
  if (history::HistoryStore* store = c_.history.store())
    store->record({QDateTime::currentMSecsSinceEpoch(), who, "broker", operation, arguments, result});
}

void SiteLink::next_refusal_second() {
  const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
  if (second == refusal_second_) return;
  if (refusals_dropped_ > 0)
    audit("requests", {}, QString("refused: %1 more in one second, not recorded one by one").arg(refusals_dropped_),
          "unverified request");
  refusal_second_ = second;
  refusals_in_second_ = refusals_dropped_ = 0;
}

void SiteLink::refuse(const Opened& opened) {
  // A broker in the wrong hands could send refusals by the thousand: the
  // audit and the log take the first few each second, then a count.
  next_refusal_second();
  if (++refusals_in_second_ > kRefusalsRecordedPerSecond) {
    ++refusals_dropped_;
    return;
  }
  console_log(QString("SITE %1: REQUEST REFUSED: %2")
                  .arg(QString::fromStdString(settings_.name), QString::fromStdString(opened.refusal)));
  audit(QString("request %1").arg(QString::fromStdString(opened.id)), {},
        "refused: " + QString::fromStdString(opened.refusal), "unverified request");
  if (!opened.id.empty()) shared_->reply(opened.id, 401, api::error_body(opened.refusal));
}

void SiteLink::Shared::reply(const std::string& id, int status, const std::string& body) const {
  // From any thread: a route may answer from the writer's.
  link->publish(topic + "replies/" + id,
                "{\"id\":" + api::json_string(id) + ",\"status\":" + std::to_string(status) +
                    ",\"body\":" + api::json_string(body) + "}",
                1, false);
}

}  // namespace tavri::sites
