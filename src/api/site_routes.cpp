// The hub's routes: its sites as they tell their state through the broker,
// their players, and requests signed for one, several or all of them.
#include <QJsonArray>
#include <QJsonDocument>
#include <thread>

#include "api/api_routes.h"
#include "api/player_query.h"
#include "api/roles.h"
#include "api/route_helpers.h"
#include "sites/hub_client.h"

namespace tavri {

using namespace routes;

namespace {

QJsonObject object_of(const std::string& json) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

}  // namespace

ApiRoutes::Answer ApiRoutes::sites(const api::Request& request, const QStringList& parts) {
  if (!hub_) return error(404, "this server is not a hub ([sites] role=hub)");
  const bool get = request.method == "GET";
  if (parts.size() == 1) {
    if (!get) return error(405, "GET");
    QJsonArray out;
    for (const auto& [name, site] : hub_->snapshot()) {
      const QJsonObject state = object_of(site.state);
      out.append(QJsonObject{{"name", QString::fromStdString(name)},
                             {"online", site.connected},
                             {"last_seen", site.seen_ms > 0 ? QJsonValue(player_query::iso_utc(site.seen_ms)) : QJsonValue()},
                             {"version", state.value("version")},
                             {"players", state.value("players")},
                             {"groups", state.value("groups")},
                             {"announcement", state.value("announcement")},
                             {"alerts", state.value("alerts")}});
    }
    return json(200, QJsonObject{{"broker", hub_->connected()}, {"sites", out}});
  }
  if (parts.size() == 3 && parts[2] == "players") {
    if (!get) return error(405, "GET");
    QJsonArray out;
    for (const std::string& player : hub_->players_of(parts[1].toStdString())) out.append(object_of(player));
    return json(200, out);
  }
  if (parts.size() == 2 && parts[1] == "requests") {
    if (request.method != "POST") return error(405, "POST");
    return site_request(request);
  }
  return error(404, "no such route");
}

// {"sites": "all" or [NAME, ...], "method": "POST", "path": "/api/send",
// "body": {...}}: signed once, sent to the sites, and answered with each
// online site's reply; an offline site's request waits at the broker.
ApiRoutes::Answer ApiRoutes::site_request(const api::Request& request) {
  api::Response bad;
  const auto body = body_object(request, bad);
  if (!body) return bad;
  const QString method = body->value("method").toString(), path = body->value("path").toString();
  if (!QStringList{"GET", "POST", "PUT", "PATCH", "DELETE"}.contains(method))
    return error(400, "\"method\" is GET, POST, PUT, PATCH or DELETE", "method");
  if (!path.startsWith("/api/") || path.contains('?') || path.startsWith("/api/sites"))
    return error(400, "\"path\" is a site's API path, without a query", "path");
  // What may be asked of a site is what this caller may do here.
  const auto needed = api::required_role(method.toStdString(), path.toStdString()).value_or(api::Role::admin);
  if (needed > request.caller.role)
    return error(403, QString("this needs the %1 role").arg(QString::fromUtf8(api::role_name(needed).data())), "path");
  const QJsonValue targets = body->value("sites");
  const auto known = hub_->snapshot();
  std::set<std::string> online, offline;
  std::string site;
  if (targets == QJsonValue("all")) {
    site = "all";
    for (const auto& [name, s] : known) (s.connected ? online : offline).insert(name);
  } else if (targets.isArray() && !targets.toArray().isEmpty() && targets.toArray().size() <= 10000) {
    for (const QJsonValue& v : targets.toArray()) {
      const std::string name = v.toString().toStdString();
      if (!sites::valid_site_name(name) || name == "all") return error(400, "\"sites\" names sites, or is \"all\"", "sites");
      const auto it = known.find(name);
      // The broker keeps requests only for a site it knows.
      if (it == known.end()) return error(404, QString("no site named \"%1\" has reported").arg(v.toString()), "sites");
      (it->second.connected ? online : offline).insert(name);
    }
  } else {
    return error(400, "\"sites\" is \"all\" or a list of site names", "sites");
  }
  sites::Request r;
  r.method = method.toStdString();
  r.path = path.toStdString();
  if (body->contains("body"))
    r.body = QJsonDocument(body->value("body").toObject()).toJson(QJsonDocument::Compact).toStdString();
  return Later([hub = hub_, r, site, online, offline](api::Respond respond) mutable {
    // The replies are waited for on a thread of their own, not the main one.
    std::thread([hub, r, site, online, offline, respond = std::move(respond)]() mutable {
      std::map<std::string, sites::SiteReply> replies;
      auto send = [&](const std::string& to, const std::set<std::string>& expect) {
        r.site = to;
        for (auto& [name, reply] : hub->request(r, expect, std::chrono::seconds(15))) replies[name] = reply;
      };
      // To all: one message, which the offline sites' sessions keep too.
      if (site == "all") {
        send("all", online);
      } else {
        for (const std::string& name : online) send(name, {name});
        for (const std::string& name : offline) send(name, {});
      }
      QJsonObject out;
      QJsonArray queued, missing;
      for (const std::string& name : online) {
        const auto it = replies.find(name);
        if (it == replies.end()) {
          missing.append(QString::fromStdString(name));
          continue;
        }
        const QJsonDocument reply = QJsonDocument::fromJson(QByteArray::fromStdString(it->second.body));
        out[QString::fromStdString(name)] =
            QJsonObject{{"status", it->second.status}, {"body", reply.isArray() ? QJsonValue(reply.array()) : QJsonValue(reply.object())}};
      }
      for (const std::string& name : offline) queued.append(QString::fromStdString(name));
      respond(json(200, QJsonObject{{"replies", out}, {"queued", queued}, {"missing", missing}}));
    }).detach();
  });
}

}  // namespace tavri
