// Player groups through the API: listed with their online and offline
// counts, made, removed, and players added or taken out.
#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "players/player_status.h"

namespace tavri {

using namespace routes;

ApiRoutes::Answer ApiRoutes::groups(const api::Request& request, const QStringList& parts) {
  PlayerGroups& groups = c_.groups;
  if (parts.size() == 1) {
    if (request.method == "GET") {
      QHash<QString, bool> online;
      const RecordList& devices = c_.udp_feedback.ArrayController_DEVICES();
      for (int i = 0; i < devices.size(); ++i)
        online.insert(devices.at(i).value("device_id").toString(), players::is_online(devices.at(i)));
      QJsonArray out;
      for (const QString& name : groups.names()) {
        const QStringList members = groups.members(name);
        int up = 0, down = 0;
        for (const QString& id : members) (online.value(id) ? up : down)++;
        out.append(QJsonObject{{"name", name}, {"players", QJsonArray::fromStringList(members)},
                               {"online", up}, {"offline", down}});
      }
      return json(200, out);
    }
    if (request.method != "POST") return error(405, "GET or POST");
    api::Response bad;
    const auto body = body_object(request, bad);
    if (!body) return bad;
    if (!body->value("name").isString()) return error(400, "\"name\" must be a string", "name");
    const QString name = body->value("name").toString();
    const Outcome o = groups.create(name);
    return o.ok() ? json(201, QJsonObject{{"created", name}}) : refusal(o);
  }
  const QString name = parts[1];
  if (parts.size() == 2) {
    if (request.method != "DELETE") return error(405, "DELETE");
    const Outcome o = groups.remove(name);
    return o.ok() ? json(200, QJsonObject{{"removed", name}}) : refusal(o);
  }
  if (parts.size() != 3 || (parts[2] != "add" && parts[2] != "remove")) return error(404, "no such route");
  if (request.method != "POST") return error(405, "POST");
  api::Response bad;
  const auto body = body_object(request, bad);
  if (!body) return bad;
  const auto ids = player_ids(body->value("players"), bad);
  if (!ids) return bad;
  if (parts[2] == "add") {
    // Only players the registry holds join a group.
    const QStringList registry = c_.udp_feedback.player_ids();
    const QSet<QString> known(registry.begin(), registry.end());
    for (const QString& id : *ids)
      if (!known.contains(id)) return error(404, QString("No player has the id \"%1\".").arg(id), "players");
  }
  const Outcome o = parts[2] == "add" ? groups.add(name, *ids) : groups.take_out(name, *ids);
  if (!o.ok()) return refusal(o);
  return json(200, QJsonObject{{"group", name}, {"players", QJsonArray::fromStringList(groups.members(name))}});
}

}  // namespace tavri
