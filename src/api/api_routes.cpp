#include "api/api_routes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QBuffer>
#include <QStorageInfo>
#include <QUrl>
#include <QUrlQuery>

#include "api/openapi.h"
#include "api/player_query.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "content/content_item.h"
#include "core/background_writer.h"
#include "core/catalogue.h"
#include "core/folders.h"
#include "core/state_archive.h"
#include "core/movielist.h"
#include "core/main_queue.h"
#include "players/player_map.h"
#include "players/player_status.h"
#include "playlists/now_playing.h"
#include "playlists/published_file.h"
#include "server/http_server.h"

namespace tavri {

using namespace routes;

namespace {

// Copied on the main thread, written out on the listener's.
struct PlayerRow {
  Record record;
  ListShown list;
  QString command;
  QString now_playing;
};

// `uptimes`: the history's shares of the last 24 hours, formatted here, off
// the main thread for the whole list.
player_query::Player player_of(const PlayerRow& row, qint64 now_ms, const QHash<QString, double>& uptimes) {
  const Record& r = row.record;
  player_query::Player p;
  // Keys made once: ten thousand players read each of them.
  p.id = r.value(QStringLiteral("device_id")).toString();
  p.name = r.value(QStringLiteral("device_name")).toString();
  p.ip = r.value(QStringLiteral("device_ip")).toString();
  // Another address that reports in its name; not taken until accepted.
  p.claimed_by = r.value(UDP_Feedback::kClaimedAddressKey).toString();
  // One reading of the time it was last heard serves the state and the text.
  const QDateTime seen = r.value(QStringLiteral("status_time")).toDateTime();
  const qint64 seen_ms = seen.isValid() ? seen.toMSecsSinceEpoch() : 0;
  p.online = seen.isValid() && !players::silent_for_too_long(seen_ms, now_ms);
  p.state = p.online ? players::Device_Status(r.value(QStringLiteral("status_device"))) : QStringLiteral("OFFLINE");
  p.playback = players::playback_name(r.value(QStringLiteral("status_player")).toInt());
  p.menu = r.value(QStringLiteral("status_menue")).toInt() == 1;
  p.muted = r.value(QStringLiteral("status_sound")).toInt() == 1;
  p.list_id = row.list.id;
  p.list_name = row.list.name;
  p.list_schedule = row.list.schedule;
  p.track = r.value(QStringLiteral("id_track")).toString();
  p.now_playing = row.now_playing;
  p.background = r.value(QStringLiteral("device_background")).toString();
  p.device_time = r.value(QStringLiteral("device_time")).toString();
  if (seen.isValid()) p.last_seen = player_query::iso_utc(seen_ms);
  p.command = row.command;
  if (const auto uptime = uptimes.constFind(p.id); uptime != uptimes.cend())
    p.uptime_24h = history::HistoryService::uptime_text(*uptime);
  // Where the floor plan shows the player (origin bottom left), once placed.
  if (const QVariant icon = r.value(player_map::kIconKey); icon.canConvert<MapIcon>())
    p.map = icon.value<MapIcon>().frame.topLeft();
  return p;
}

}  // namespace

ApiRoutes::ApiRoutes(Controllers& controllers, QObject* parent) : QObject(parent), c_(controllers) {
  connect(&c_.udp_feedback, &UDP_Feedback::command_sent_to, this, [this] { ++commands_sent_; });
  connect(&c_.udp_feedback, &UDP_Feedback::command_failed, this, [this] { ++commands_failed_; });
}

api::Response ApiRoutes::json(int status, const QJsonValue& value) {
  const QByteArray bytes = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
  return {status, "application/json", bytes.toStdString()};
}

api::Response ApiRoutes::error(int status, const QString& message, const QString& field) {
  return {status, "application/json", api::error_body(message.toStdString(), field.toStdString())};
}

api::Response ApiRoutes::refusal(const Outcome& outcome) {
  const int status = outcome.kind == Outcome::kUnknownId ? 404
                     : outcome.kind == Outcome::kConflict ? 409
                     : outcome.kind == Outcome::kNoRoom   ? 507
                     : outcome.kind == Outcome::kFailed   ? 500
                                                          : 400;
  QString message = outcome.message;
  if (!outcome.detail.isEmpty()) message += " " + outcome.detail;
  return error(status, message, outcome.field);
}

void ApiRoutes::handle(api::Request request, api::Respond respond) {
  post_to(this, [this, request = std::move(request), respond = std::move(respond)]() mutable {
    Answer answer = route(request);
    if (auto* now = std::get_if<api::Response>(&answer)) return respond(std::move(*now));
    if (auto* later = std::get_if<Later>(&answer)) return (*later)(std::move(respond));
    // The writing-out leaves the main thread.
    net::IoPool::shared().context().post(
        [work = std::get<std::function<api::Response()>>(std::move(answer)), respond = std::move(respond)] {
          respond(work());
        });
  });
}

ApiRoutes::Answer ApiRoutes::route(const api::Request& request) {
  const std::string& path = request.path;
  const bool get = request.method == "GET";
  if (path == "/healthz") return json(200, QJsonObject{{"status", "alive"}});
  if (path == "/readyz") {
    const bool serving = c_.server.http_server() && c_.server.http_server()->listening_port() != 0;
    const bool feedback = c_.udp_feedback.feedback_port() != 0;
    return json(serving && feedback ? 200 : 503,
                QJsonObject{{"serving_files", serving}, {"feedback_socket", feedback}});
  }
  if (path == "/metrics") return get ? metrics() : error(405, "GET");
  if (path == "/api/openapi.json") return get ? api::Response{200, "application/json", openapi_document()} : error(405, "GET");
  if (path.rfind("/api/", 0) != 0) return error(404, "no such route");
  const QStringList parts = path_parts(path);
  const QString resource = parts.value(0);
  if (resource == "players") return players(request, parts);
  if (resource == "groups") return groups(request, parts);
  if (resource == "announcement" && parts.size() == 1) return announcement(request);
  if (resource == "alerts" && parts.size() == 1) return get ? alerts() : error(405, "GET");
  if (resource == "log" && parts.size() == 1) return get ? log(request) : error(405, "GET");
  if (resource == "notifications") return notifications(request, parts);
  if (resource == "sites") return sites(request, parts);
  if (resource == "audit" && parts.size() == 1) return get ? audit(request) : error(405, "GET");
  if (resource == "playlists" || resource == "schedules") return catalogue(request, parts, resource == "schedules");
  if (resource == "content") return content(request, parts);
  if (resource == "folder" && parts.size() == 1) return folder(request);
  if (resource == "backup" && parts.size() == 1) return get ? backup() : error(405, "GET");
  if (resource == "export" && parts.size() == 1) return get ? export_catalogues() : error(405, "GET");
  if (resource == "import" && parts.size() == 1) return error(405, "PUT, with the export as the body");
  if (resource == "restore" && parts.size() == 1) return error(405, "PUT, with the archive as the body");
  if (resource == "history" && parts.size() == 2 && parts[1] == "proof-of-play")
    return get ? proof_of_play(request) : error(405, "GET");
  if (resource == "history" && parts.size() == 3 && parts[1] == "players")
    return get ? timeline(request, parts[2]) : error(405, "GET");
  if (resource == "rescan" && parts.size() == 1) {
    if (request.method != "POST") return error(405, "POST");
    if (c_.file_list.folder_path().isEmpty()) return error(409, "no content folder is chosen", "folder");
    c_.file_list.rescan_Folder();
    return json(202, QJsonObject{{"scanning", c_.file_list.folder_path()}});
  }
  if (resource == "commands" && parts.size() == 1) {
    if (get) {
      QJsonArray names;
      for (int code = 0; code <= wire::kBackground; ++code) names.append(players::command_name(code));
      return json(200, names);
    }
    if (request.method != "POST") return error(405, "GET or POST");
    api::Response bad;
    const auto body = body_object(request, bad);
    return body ? command(*body) : bad;
  }
  if (resource == "send" && parts.size() == 1) {
    if (request.method != "POST") return error(405, "POST");
    api::Response bad;
    const auto body = body_object(request, bad);
    return body ? send_list(*body) : bad;
  }
  if (resource == "publish" && parts.size() == 1) return request.method == "POST" ? publish(request) : error(405, "POST");
  if (resource == "save-all" && parts.size() == 1) {
    if (request.method != "POST") return error(405, "POST");
    // Queued for the background writer, in the order the window saves.
    c_.app.save_all_queued();
    return json(202, QJsonObject{{"saving", true}});
  }
  return error(404, "no such route");
}

std::optional<QStringList> ApiRoutes::player_ids(const QJsonValue& value, api::Response& refusal) {
  if (value.isString() && value.toString() == "all") return c_.udp_feedback.player_ids();
  if (!value.isArray()) {
    refusal = error(400, "\"players\" must be \"all\" or a list of player ids and \"group:NAME\"", "players");
    return std::nullopt;
  }
  QStringList targets;
  for (const QJsonValue& id : value.toArray()) {
    if (!id.isString()) {
      refusal = error(400, "every player id must be a string", "players");
      return std::nullopt;
    }
    targets << id.toString();
  }
  Outcome unknown;
  const auto ids = c_.groups.resolve(targets, c_.udp_feedback.player_ids(), &unknown);
  if (!ids) refusal = this->refusal(unknown);
  return ids;
}

ApiRoutes::Answer ApiRoutes::players(const api::Request& request, const QStringList& parts) {
  UDP_Feedback& feedback = c_.udp_feedback;
  const RecordList& devices = feedback.ArrayController_DEVICES();
  // The catalogues' names once, not a search of a catalogue per player.
  auto names_of = [](const RecordList& lists) {
    QHash<qint64, QString> names;
    for (int i = 0; i < lists.size(); ++i) names.insert(lists.at(i).value("id").toLongLong(), lists.at(i).value("name").toString());
    return names;
  };
  const QHash<qint64, QString> playlists = names_of(c_.playlists.ArrayController_PLAYLIST());
  const QHash<qint64, QString> schedules = names_of(c_.schedule.ArrayController_SCHEDULELIST());
  NowPlaying now_playing(&c_.playlists.ArrayController_PLAYLIST(), local_today());
  auto row = [&](const Record& r) {
    const QString id = r.value("device_id").toString();
    const ListShown list = feedback.list_shown(
        id, r.value("id_playlist"), [&](qint64 list_id) { return playlists.value(list_id); },
        [&](qint64 list_id) { return schedules.value(list_id); });
    return PlayerRow{r, list, feedback.command_state(id),
                     now_playing.text(list.schedule, list.id, list.name, r.value("id_track").toString())};
  };
  if (parts.size() == 1) {
    if (request.method != "GET") return error(405, "GET");
    QString why, field;
    const auto query = player_query::parse(text(request.query), &why, &field);
    if (!query) return error(400, why, field);
    QSet<QString> members;
    if (!query->group.isEmpty()) {
      if (!c_.groups.names().contains(query->group))
        return error(404, QString("No group is named \"%1\".").arg(query->group), "group");
      const QStringList ids = c_.groups.members(query->group);
      members = QSet<QString>(ids.begin(), ids.end());
    }
    QHash<QString, QStringList> groups;
    if (!query->text.isEmpty())
      for (const QString& name : c_.groups.names())
        for (const QString& id : c_.groups.members(name)) groups[id] << name;
    std::vector<PlayerRow> rows;
    rows.reserve(static_cast<std::size_t>(devices.size()));
    for (int i = 0; i < devices.size(); ++i) rows.push_back(row(devices.at(i)));
    return std::function<api::Response()>([rows = std::move(rows), uptimes = c_.history.uptimes_24h(), query = *query,
                                           members = std::move(members), groups = std::move(groups)] {
      const qint64 now_ms = QDateTime::currentMSecsSinceEpoch();
      std::vector<player_query::Player> players;
      players.reserve(rows.size());
      for (const PlayerRow& r : rows) players.push_back(player_of(r, now_ms, uptimes));
      return api::Response{200, "application/json", player_query::list_json(query, players, members, groups)};
    });
  }
  // The operator takes a player's report from another address as its own.
  if (parts.size() == 3 && parts[2] == "accept-address") {
    if (request.method != "POST") return error(405, "POST");
    const Outcome o = feedback.accept_address(parts[1]);
    return o.ok() ? json(200, QJsonObject{{"accepted", parts[1]}}) : refusal(o);
  }
  if (parts.size() != 2) return error(404, "no such route");
  const QString id = parts[1];
  if (request.method == "DELETE") {
    const Outcome o = feedback.remove_players({id});
    return o.ok() ? json(200, QJsonObject{{"removed", id}}) : refusal(o);
  }
  if (request.method == "PATCH") {
    api::Response bad;
    const auto body = body_object(request, bad);
    if (!body) return bad;
    if (!body->value("name").isString()) return error(400, "\"name\" must be a string", "name");
    const Outcome o = feedback.rename_player(id, body->value("name").toString());
    return o.ok() ? json(202, QJsonObject{{"renamed", id}}) : refusal(o);
  }
  if (request.method != "GET") return error(405, "GET, PATCH or DELETE");
  for (int i = 0; i < devices.size(); ++i)
    if (devices.at(i).value("device_id").toString() == id)
      return json(200, player_query::to_object(player_of(row(devices.at(i)), QDateTime::currentMSecsSinceEpoch(),
                                                         c_.history.uptimes_24h())));
  return error(404, QString("No player has the id \"%1\".").arg(id), "id");
}

api::Response ApiRoutes::command(const QJsonObject& body) {
  const auto code = players::command_code(body.value("command").toString());
  if (!body.value("command").isString() || !code) return error(400, "\"command\" must name a command", "command");
  api::Response bad;
  QStringList ids;
  if (*code != wire::kSimpleFeedback) {
    const auto named = player_ids(body.value("players"), bad);
    if (!named) return bad;
    ids = *named;
  }
  QStringList arguments;
  const QJsonValue given = body.value("arguments");
  if (!given.isUndefined() && !given.isArray()) return error(400, "\"arguments\" must be a list of strings", "arguments");
  for (const QJsonValue& a : given.toArray()) {
    if (!a.isString()) return error(400, "\"arguments\" must be a list of strings", "arguments");
    arguments << a.toString();
  }
  if (*code == wire::kBackground && !arguments.isEmpty()) {
    // The players fetch the background by its name from the content folder.
    const int index = c_.file_list.index_of_file(arguments[0]);
    if (index < 0) return error(404, QString("No content file is named \"%1\".").arg(arguments[0]), "arguments");
    const QUrl url = c_.file_list.ArrayController_FILELIST().at(index).value(key::FILE_URL).toUrl();
    arguments[0] = url.isLocalFile() ? url.toLocalFile() : url.path();
  }
  const Outcome o = c_.udp_feedback.command_players(*code, ids, arguments);
  if (!o.ok()) return refusal(o);
  // Whether the players' feedback will show it: else it is "sent, not confirmable".
  return json(202, QJsonObject{{"command", players::command_name(*code)},
                               {"players", QJsonArray::fromStringList(ids)},
                               {"confirmable", CommandTracker::confirmable(*code)}});
}

std::optional<Record> ApiRoutes::named_list(const QJsonObject& body, api::Response& refusal) {
  const bool schedule = body.contains("schedule");
  const QString field = schedule ? "schedule" : "playlist";
  const QJsonValue wanted = body.value(field);
  if (!wanted.isString() && !wanted.isDouble()) {
    refusal = error(400, "name a \"playlist\" or a \"schedule\" by its id or its name", field);
    return std::nullopt;
  }
  const RecordList& lists =
      schedule ? c_.schedule.ArrayController_SCHEDULELIST() : c_.playlists.ArrayController_PLAYLIST();
  std::optional<Record> found;
  int by_name = 0;
  for (int i = 0; i < lists.size(); ++i) {
    const Record& r = lists.at(i);
    if (wanted.isDouble() ? r.value("id").toLongLong() == wanted.toInteger()
                          : r.value("id").toString() == wanted.toString()) {
      found = r;
      by_name = 0;
      break;
    }
    if (wanted.isString() && r.value("name").toString() == wanted.toString()) {
      if (!found) found = r;
      ++by_name;
    }
  }
  if (by_name > 1) refusal = error(409, QString("%1 lists have this name: name it by its id").arg(by_name), field);
  else if (!found) refusal = error(404, QString("No %1 has the id or name \"%2\".").arg(field, wanted.toVariant().toString()), field);
  return by_name > 1 ? std::nullopt : found;
}

api::Response ApiRoutes::send_list(const QJsonObject& body) {
  const bool schedule = body.contains("schedule");
  const QString field = schedule ? "schedule" : "playlist";
  api::Response bad;
  const auto found = named_list(body, bad);
  if (!found) return bad;
  const auto ids = player_ids(body.value("players"), bad);
  if (!ids) return bad;
  const Outcome o = c_.udp_feedback.send_list(*found, *ids);
  if (!o.ok()) return refusal(o);
  return json(202, QJsonObject{{field, found->value("id").toLongLong()},
                               {"command", players::command_name(schedule ? wire::kLoadSchedule : wire::kLoadPlaylist)},
                               {"players", QJsonArray::fromStringList(*ids)},
                               {"confirmable", true}});
}

// The Prometheus text format.
api::Response ApiRoutes::metrics() {
  const auto census = players::count_players(c_.udp_feedback.ArrayController_DEVICES());
  QString out;
  auto metric = [&](const char* name, const char* type, const char* help, const QString& samples) {
    out += QString("# HELP %1 %2\n# TYPE %1 %3\n%4").arg(name, help, type, samples);
  };
  auto sample = [](const char* name, double value, const QString& labels = {}) {
    return QString("%1%2 %3\n").arg(name, labels.isEmpty() ? QString() : "{" + labels + "}").arg(value, 0, 'g', 15);
  };
  metric("tavri_players", "gauge", "Players in the registry, by the 8-second rule.",
         sample("tavri_players", census.online, "state=\"online\"") +
             sample("tavri_players", census.offline, "state=\"offline\""));
  metric("tavri_commands_sent_total", "counter", "Commands sent to players.",
         sample("tavri_commands_sent_total", double(commands_sent_)));
  metric("tavri_commands_failed_total", "counter", "Commands the players' feedback never showed.",
         sample("tavri_commands_failed_total", double(commands_failed_)));
  auto* files = c_.server.http_server();
  metric("tavri_http_open_connections", "gauge", "Open connections on the players' HTTP port.",
         sample("tavri_http_open_connections", files ? double(files->number_of_connections()) : 0));
  if (files) {
    metric("tavri_http_requests_total", "counter", "Requests read on the players' HTTP port.",
           sample("tavri_http_requests_total", double(files->counters().requests)));
    metric("tavri_http_body_bytes_total", "counter", "File bytes sent on the players' HTTP port.",
           sample("tavri_http_body_bytes_total", double(files->counters().body_bytes)));
  }
  metric("tavri_feedback_datagrams_total", "counter", "Datagrams on the feedback port: received, and refused of them.",
         sample("tavri_feedback_datagrams_total", double(c_.udp_feedback.datagrams_received()), "outcome=\"received\"") +
             sample("tavri_feedback_datagrams_total", double(c_.udp_feedback.datagrams_refused()), "outcome=\"refused\""));
  metric("tavri_content_items", "gauge", "Items in the content list.",
         sample("tavri_content_items", c_.file_list.ArrayController_FILELIST().size()));
  metric("tavri_scan_seconds", "gauge", "How long the last complete scan of the content folder took.",
         sample("tavri_scan_seconds", c_.file_list.last_scan_ms() < 0 ? 0 : c_.file_list.last_scan_ms() / 1000.0));
  const PublishTotals published = publish_totals();
  metric("tavri_publish_seconds", "summary", "Time to encode and write the published list files.",
         sample("tavri_publish_seconds_sum", published.seconds) +
             sample("tavri_publish_seconds_count", double(published.written + published.failed)));
  metric("tavri_publish_failed_total", "counter", "Published list files that could not be written.",
         sample("tavri_publish_failed_total", double(published.failed)));
  metric("tavri_writer_queue", "gauge", "Files waiting for the background writer.",
         sample("tavri_writer_queue", double(BackgroundWriter::instance().queued())));
  if (counters_) {
    metric("tavri_api_requests_total", "counter", "API requests read.",
           sample("tavri_api_requests_total", double(counters_->requests)));
    metric("tavri_api_unauthorized_total", "counter", "API requests without a valid token.",
           sample("tavri_api_unauthorized_total", double(counters_->unauthorized)));
    metric("tavri_api_open_connections", "gauge", "Open API connections.",
           sample("tavri_api_open_connections", counters_->open_connections));
    metric("tavri_api_event_streams", "gauge", "Open event streams.",
           sample("tavri_api_event_streams", counters_->event_streams));
  }
  // Where the content and the saved state live: a full disk stops saves and uploads.
  QString free;
  for (const auto& [where, path] : {std::pair{"content", c_.file_list.folder_path()}, {"state", application_folder()}}) {
    if (path.isEmpty()) continue;
    const QStorageInfo disk(path);
    if (disk.isValid()) free += sample("tavri_disk_free_bytes", double(disk.bytesAvailable()), QString("folder=\"%1\"").arg(where));
  }
  if (!free.isEmpty()) metric("tavri_disk_free_bytes", "gauge", "Bytes free for this server on the disk of each folder.", free);
  metric("tavri_notifications_failed_total", "counter", "Deliveries of notifications (mail, webhooks) that failed.",
         sample("tavri_notifications_failed_total", double(c_.notifier.failed_deliveries())));
  return {200, "text/plain; version=0.0.4", out.toStdString()};
}

// ?hours=N (1 to 2160, 24 when missing): what happened to one player.
ApiRoutes::Answer ApiRoutes::timeline(const api::Request& request, const QString& device_id) {
  if (const Outcome o = c_.udp_feedback.check_players({device_id}); !o.ok()) return refusal(o);
  const QUrlQuery query(text(request.query));
  bool number = true;
  const int hours = query.hasQueryItem("hours") ? query.queryItemValue("hours").toInt(&number) : 24;
  if (!number || hours < 1 || hours > 2160)
    return error(400, "\"hours\" must be a whole number from 1 to 2160", "hours");
  if (!c_.history.available()) return error(503, "the history is off (see the console)");
  const qint64 to_ms = QDateTime::currentMSecsSinceEpoch(), from_ms = to_ms - qint64(hours) * 3600 * 1000;
  return Later([this, device_id, from_ms, to_ms](api::Respond respond) {
    c_.history.timeline(device_id, from_ms, to_ms, 1000,
                        [respond = std::move(respond), device_id, uptime = c_.history.uptime_24h(device_id)](
                            std::vector<history::Event> events) {
                          QJsonArray list;
                          for (const auto& e : events)
                            list.append(QJsonObject{
                                {"time", QDateTime::fromMSecsSinceEpoch(e.time_ms).toUTC().toString(Qt::ISODateWithMs)},
                                {"kind", e.kind},
                                {"detail", e.detail}});
                          respond(json(200, QJsonObject{{"id", device_id},
                                                        {"uptime_24h", uptime.isEmpty() ? QJsonValue() : uptime},
                                                        {"events", list}}));
                        });
  });
}

// ?from=YYYY-MM-DD&to=YYYY-MM-DD[&players=ID,ID][&totals=true]: the plays
// from the start of the first day to the end of the last, as CSV.
ApiRoutes::Answer ApiRoutes::proof_of_play(const api::Request& request) {
  const QUrlQuery query(text(request.query));
  const QDate from = QDate::fromString(query.queryItemValue("from", QUrl::FullyDecoded), Qt::ISODate);
  const QDate to = QDate::fromString(query.queryItemValue("to", QUrl::FullyDecoded), Qt::ISODate);
  if (!from.isValid()) return error(400, "\"from\" must be a date (YYYY-MM-DD)", "from");
  if (!to.isValid()) return error(400, "\"to\" must be a date (YYYY-MM-DD)", "to");
  if (to < from || from.daysTo(to) > 366) return error(400, "\"to\" must be on or after \"from\", within a year", "to");
  const QString totals = query.queryItemValue("totals");
  if (!totals.isEmpty() && totals != "true" && totals != "false") return error(400, "\"totals\" is true or false", "totals");
  QStringList ids;
  if (query.hasQueryItem("players"))
    ids = query.queryItemValue("players", QUrl::FullyDecoded).split(',', Qt::SkipEmptyParts);
  if (!ids.isEmpty())
    if (const Outcome o = c_.udp_feedback.check_players(ids); !o.ok()) return refusal(o);
  if (!c_.history.available()) return error(503, "the history is off (see the console)");
  const qint64 from_ms = QDateTime(from, QTime(0, 0)).toMSecsSinceEpoch();
  const qint64 to_ms = QDateTime(to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch() - 1;
  return Later([this, from_ms, to_ms, ids, totals = totals == "true"](api::Respond respond) {
    c_.history.proof_of_play(from_ms, to_ms, ids, totals, [respond = std::move(respond)](QByteArray csv) {
      respond({200, "text/csv; charset=utf-8", csv.toStdString()});
    });
  });
}

}  // namespace tavri
