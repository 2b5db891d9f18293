// Playlists and schedules: the catalogues, their items and tasks.
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "content/content_item.h"
#include "core/catalogue.h"
#include "core/local_day.h"
#include "core/movielist.h"
#include "schedules/dayparts.h"

namespace tavri {

using namespace routes;

namespace {

// A list's version: its values and the life of its id, so that any edit,
// and a removal and re-creation under the same id, change it.
QString etag_of(const Record& r, quint64 incarnation) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(QByteArray::number(incarnation));
  for (auto it = r.constBegin(); it != r.constEnd(); ++it) {
    hash.addData(it.key().toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    const QVariant& v = it.value();
    if (v.typeId() == QMetaType::QByteArray)
      hash.addData(v.toByteArray());
    else if (!is_picture(v))
      hash.addData(QJsonDocument(QJsonArray{QJsonValue::fromVariant(v)}).toJson(QJsonDocument::Compact));
    hash.addData(QByteArrayView("\0", 1));
  }
  return "\"" + QString::fromLatin1(hash.result().toHex().left(20)) + "\"";
}

}  // namespace

ApiRoutes::Answer ApiRoutes::catalogue(const api::Request& request, const QStringList& parts, bool schedules) {
  const RecordList& lists =
      schedules ? c_.schedule.ArrayController_SCHEDULELIST() : c_.playlists.ArrayController_PLAYLIST();
  const QString what = schedules ? "schedule" : "playlist";
  // The catalogue's operations, the same for both.
  auto create = [&](const QString& name, qint64* id) {
    return schedules ? c_.schedule.create(name, id) : c_.playlists.create(name, id);
  };
  auto rename = [&](qint64 id, const QString& name) {
    return schedules ? c_.schedule.rename(id, name) : c_.playlists.rename(id, name);
  };
  auto copy = [&](qint64 id, qint64* copy_id) {
    return schedules ? c_.schedule.copy(id, copy_id) : c_.playlists.copy(id, copy_id);
  };
  auto remove = [&](qint64 id) { return schedules ? c_.schedule.remove({id}) : c_.playlists.remove({id}); };
  const Catalogue& catalogue = schedules ? c_.schedule.catalogue() : c_.playlists.catalogue();
  auto etag = [&](qint64 id) -> QString {
    const int index = catalogue.index_of(id);
    return index < 0 ? QString() : etag_of(lists.at(index), catalogue.incarnation(id));
  };
  // A change made against another version than the current one (another
  // client's edit came first, or the id now names another list) is refused.
  auto stale = [&](qint64 id) -> std::optional<api::Response> {
    if (request.if_match.empty() || request.if_match == "*") return std::nullopt;
    const QString current = etag(id);
    if (current.isEmpty() || current == text(request.if_match)) return std::nullopt;
    api::Response refused = error(412, QString("The %1 changed since it was read: load it again.").arg(what), "If-Match");
    refused.headers.emplace_back("ETag", current.toStdString());
    return refused;
  };
  // An answer that carries the list's version after the change.
  auto versioned = [&](api::Response response, qint64 id) {
    if (const QString tag = etag(id); !tag.isEmpty()) response.headers.emplace_back("ETag", tag.toStdString());
    return response;
  };
  // A new name: a JSON string the players can read as one field.
  auto name_of = [&](const api::Request& r, QString& name) -> std::optional<api::Response> {
    api::Response bad;
    const auto body = body_object(r, bad);
    if (!body) return bad;
    if (!body->value("name").isString()) return error(400, "\"name\" must be a string", "name");
    name = body->value("name").toString();
    if (const Outcome o = Catalogue::check_name(name); !o.ok()) return refusal(o);
    return std::nullopt;
  };

  if (parts.size() == 1) {
    if (request.method == "POST") {
      QString name;
      if (auto refused = name_of(request, name)) return *refused;
      qint64 id = 0;
      const Outcome o = create(name, &id);
      return o.ok() ? versioned(json(201, QJsonObject{{"id", id}, {"name", name}}), id) : refusal(o);
    }
    if (request.method != "GET") return error(405, "GET or POST");
    QJsonArray out;
    for (int i = 0; i < lists.size(); ++i) {
      const Record& r = lists.at(i);
      const qint64 list_id = r.value("id").toLongLong();
      QJsonObject entry{{"id", list_id}, {"name", r.value("name").toString()},
                        {"etag", etag_of(r, catalogue.incarnation(list_id))}};
      if (schedules) entry["tasks"] = r.value("tasklist").toList().size();
      out.append(entry);
    }
    return json(200, out);
  }
  bool numeric = false;
  const qint64 id = parts[1].toLongLong(&numeric);
  if (!numeric) return error(400, QString("a %1 id is a number").arg(what), "id");
  if (parts.size() == 3 && parts[2] == "copy") {
    if (request.method != "POST") return error(405, "POST");
    qint64 copy_id = 0;
    const Outcome o = copy(id, &copy_id);
    return o.ok() ? versioned(json(201, QJsonObject{{"id", copy_id}}), copy_id) : refusal(o);
  }
  if (parts.size() == 3 && parts[2] == (schedules ? "tasks" : "items")) {
    if (request.method != "PUT") return error(405, "PUT");
    if (auto refused = stale(id)) return *refused;
    return versioned(schedules ? set_tasks(id, request) : set_items(id, request), id);
  }
  if (parts.size() != 2) return error(404, "no such route");
  // {"fallback": 3}: what plays outside a schedule's dayparts.
  api::Response not_json;
  const auto patch = request.method == "PATCH" ? body_object(request, not_json) : std::nullopt;
  if (schedules && patch && patch->contains("fallback")) {
    const auto body = patch;
    if (!body->value("fallback").isDouble() || body->size() != 1)
      return error(400, "{\"fallback\": a playlist id, or -1 for none}", "fallback");
    if (auto refused = stale(id)) return *refused;
    const Outcome o = c_.schedule_view.set_fallback(id, body->value("fallback").toInteger());
    return o.ok() ? versioned(json(200, QJsonObject{{"id", id}, {"fallback", body->value("fallback")}}), id) : refusal(o);
  }
  if (request.method == "PATCH") {
    QString name;
    if (auto refused = name_of(request, name)) return *refused;
    if (auto refused = stale(id)) return *refused;
    const Outcome o = rename(id, name);
    return o.ok() ? versioned(json(200, QJsonObject{{"id", id}, {"name", name}}), id) : refusal(o);
  }
  if (request.method == "DELETE") {
    if (auto refused = stale(id)) return *refused;
    const Outcome o = remove(id);
    return o.ok() ? json(200, QJsonObject{{"removed", id}}) : refusal(o);
  }
  if (request.method != "GET") return error(405, "GET, PATCH or DELETE");
  const int index = schedules ? c_.schedule.catalogue().index_of(id) : c_.playlists.catalogue().index_of(id);
  if (index < 0) return error(404, QString("No %1 has the id %2.").arg(what).arg(id), "id");
  QJsonObject out = item_json(lists.at(index));
  if (!schedules) {
    QJsonArray items;
    for (const Record& item : decode_movielist(lists.at(index), false)) {
      QJsonObject entry = item_json(item);
      entry.remove(key::FILE_URL);  // where it lies on the server is not the client's business
      entry.insert("file", item.value(key::FILE_URL).toUrl().fileName());
      // Not playing today, and why: "ended 2026-12-06".
      if (const QString why = why_not_playing(item, local_today()); !why.isEmpty()) entry.insert("not_playing", why);
      items.append(entry);
    }
    out["items"] = items;
  }
  out["etag"] = etag(id);
  return versioned(json(200, out), id);
}

// {"items": [{"file": "lobby.mp4"}, {"file": "menu.png", "seconds": 8}]}:
// the whole list, so that adding, moving and removing are one change.
api::Response ApiRoutes::set_items(qint64 id, const api::Request& request) {
  api::Response bad;
  const auto list = body_list(request, "items", bad);
  if (!list) return bad;
  QList<display_playlist::ItemSpec> items;
  for (const QJsonValue& value : *list) {
    const QJsonObject item = value.toObject();
    const QJsonValue seconds = item.value("seconds");
    const QJsonValue first = item.value("first_date"), last = item.value("last_date");
    if (!item.value("file").isString() || !(seconds.isUndefined() || seconds.isDouble()) ||
        seconds.toDouble() != std::floor(seconds.toDouble()) || seconds.toDouble() > 86400 * 365 ||
        seconds.toDouble() < 0 || !(first.isUndefined() || first.isString()) || !(last.isUndefined() || last.isString()))
      return error(400,
                   "each item is {\"file\": NAME} with, for an image, \"seconds\": a whole number from 0 to 31536000, "
                   "and if wanted \"first_date\" and \"last_date\" (yyyy-MM-dd)",
                   "items");
    items.append({item.value("file").toString(), seconds.toInt(), first.toString(), last.toString()});
  }
  const Outcome o = c_.playlist_editor.set_items(id, items);
  return o.ok() ? json(200, QJsonObject{{"id", id}, {"items", int(items.size())}}) : refusal(o);
}

// {"tasks": [{"name": "Mornings", "date": "2026-12-08", "time": "07:30",
// "daily": true, "cut": false, "active": true, "playlist": 3, "days":
// ["mon", "fri"], "first_date": …, "last_date": …, "end_time": "10:30"}],
// "fallback": 2}: the whole list, as the items are; the rules and the
// fallback are optional.
api::Response ApiRoutes::set_tasks(qint64 id, const api::Request& request) {
  api::Response bad;
  const auto list = body_list(request, "tasks", bad);
  if (!list) return bad;
  QList<Schedule_View::TaskSpec> tasks;
  for (const QJsonValue& value : *list) {
    const QJsonObject t = value.toObject();
    static constexpr const char* kFlags[] = {"daily", "cut", "active"};
    static constexpr const char* kRules[] = {"first_date", "last_date", "end_time"};
    const QJsonValue days = t.value("days");
    const bool shaped =
        t.value("name").isString() && t.value("date").isString() && t.value("time").isString() &&
        t.value("playlist").isDouble() &&
        std::all_of(std::begin(kFlags), std::end(kFlags),
                    [&](const char* f) { return t.value(f).isUndefined() || t.value(f).isBool(); }) &&
        std::all_of(std::begin(kRules), std::end(kRules),
                    [&](const char* f) { return t.value(f).isUndefined() || t.value(f).isString(); }) &&
        (days.isUndefined() || days.isArray());
    if (!shaped)
      return error(400,
                   "each task is {\"name\", \"date\": yyyy-MM-dd, \"time\": HH:mm, \"playlist\": id} with "
                   "\"daily\", \"cut\" and \"active\" true or false, and optionally \"days\": [\"mon\", …], "
                   "\"first_date\", \"last_date\" and \"end_time\"",
                   "tasks");
    Schedule_View::TaskSpec wanted{t.value("name").toString(), t.value("date").toString(), t.value("time").toString(),
                                 t.value("daily").toBool(true), t.value("cut").toBool(false),
                                 t.value("active").toBool(true), t.value("playlist").toInteger(), {}, {}, {}, {}};
    if (days.isArray()) {
      QStringList names;
      for (const QJsonValue& day : days.toArray()) names << day.toString();
      const auto read = dayparts::read_days(names);
      if (!read) return error(400, "\"days\" lists days of the week: \"mon\" to \"sun\", at least one", "tasks");
      wanted.days = *read;
    }
    wanted.first_date = t.value("first_date").toString();
    wanted.last_date = t.value("last_date").toString();
    wanted.end_time = t.value("end_time").toString();
    tasks.append(wanted);
  }
  const QJsonValue fallback = body_object(request, bad)->value("fallback");
  if (!fallback.isUndefined() && !fallback.isNull() && !fallback.isDouble())
    return error(400, "\"fallback\" is a playlist id, or -1 for none", "fallback");
  const Outcome o = c_.schedule_view.set_tasks(
      id, tasks, fallback.isUndefined() ? std::nullopt : std::optional<qint64>(fallback.isNull() ? -1 : fallback.toInteger()));
  return o.ok() ? json(200, QJsonObject{{"id", id}, {"tasks", int(tasks.size())}}) : refusal(o);
}

// {"playlist": NAME, "items": [...], "players": TARGETS}: the playlist of
// that name made if there is none, given these items, and sent: what a hub
// asks of each site in one request. A refusal leaves nothing made.
api::Response ApiRoutes::publish(const api::Request& request) {
  api::Response bad;
  const auto body = body_object(request, bad);
  if (!body) return bad;
  if (!body->value("playlist").isString()) return error(400, "\"playlist\" is the playlist's name", "playlist");
  // The players are checked before anything is made or changed.
  const auto ids = player_ids(body->value("players"), bad);
  if (!ids) return bad;
  if (const Outcome o = c_.udp_feedback.check_players(*ids); !o.ok()) return refusal(o);
  const QString name = body->value("playlist").toString();
  std::optional<Record> found = named_list(QJsonObject{{"playlist", name}}, bad);
  if (!found && bad.status != 404) return bad;
  qint64 id = found ? found->value("id").toLongLong() : 0;
  if (!found) {
    if (const Outcome o = Catalogue::check_name(name); !o.ok()) return refusal(o);
    if (const Outcome o = c_.playlists.create(name, &id); !o.ok()) return refusal(o);
  }
  api::Request items = request;
  items.body = QJsonDocument(QJsonObject{{"items", body->value("items")}}).toJson(QJsonDocument::Compact).toStdString();
  if (const api::Response set = set_items(id, items); set.status != 200) {
    if (!found) c_.playlists.remove({id});
    return set;
  }
  api::Response sent = send_list(QJsonObject{{"playlist", double(id)}, {"players", body->value("players")}});
  if (sent.status != 202) {
    if (!found) c_.playlists.remove({id});
    return sent;
  }
  QJsonObject answer = QJsonDocument::fromJson(QByteArray::fromStdString(sent.body)).object();
  answer["created"] = !found;
  answer["items"] = body->value("items").toArray().size();
  return json(202, answer);
}

}  // namespace tavri
