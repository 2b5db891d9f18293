// The announcement through the API: what runs, start one, end it.
#include "api/api_routes.h"

#include <QUrlQuery>

#include "core/console.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "content/content_item.h"

namespace tavri {

using namespace routes;

QJsonObject announcement_json(const Announcement& a) {
  if (!a.running()) return {{"running", false}};
  return {{"running", true},
          {"what", a.label()},
          {"targets", QJsonArray::fromStringList(a.targets())},
          {"players", QJsonArray::fromStringList(a.players())},
          {"started", a.started().toString(Qt::ISODate)},
          {"ends", a.ends().isValid() ? QJsonValue(a.ends().toString(Qt::ISODate)) : QJsonValue()}};
}

// {"playlist": 3 | "schedule": "Week" | "stream": URL | "background": FILE, "players": [...],
// "minutes": 30}: minutes left out or 0, until ended.
ApiRoutes::Answer ApiRoutes::announcement(const api::Request& request) {
  Announcement& a = c_.announcement;
  if (request.method == "GET") return json(200, announcement_json(a));
  if (request.method == "DELETE") {
    const Outcome o = a.end();
    return o.ok() ? json(200, QJsonObject{{"ended", true}}) : refusal(o);
  }
  if (request.method != "POST") return error(405, "GET, POST or DELETE");
  api::Response bad;
  const auto body = body_object(request, bad);
  if (!body) return bad;
  Announcement::Content content;
  if (body->contains("stream")) {
    if (!body->value("stream").isString()) return error(400, "\"stream\" is a web address", "stream");
    content.stream = body->value("stream").toString();
    content.label = "stream " + content.stream;
  } else if (body->contains("background")) {
    // A content file, as the background command names it.
    const QString file = body->value("background").toString();
    const int index = body->value("background").isString() ? c_.file_list.index_of_file(file) : -1;
    if (index < 0) return error(404, QString("No content file is named \"%1\".").arg(file), "background");
    const QUrl url = c_.file_list.ArrayController_FILELIST().at(index).value(key::FILE_URL).toUrl();
    content.background = url.isLocalFile() ? url.toLocalFile() : url.path();
    content.label = "background " + file;
  } else {
    content.list = named_list(*body, bad);
    if (!content.list) return bad;
    content.label = QString(content.list->contains("tasklist") ? "schedule %1" : "playlist %1")
                        .arg(content.list->value("name").toString());
  }
  const QJsonValue minutes = body->value("minutes");
  if (!(minutes.isUndefined() || (minutes.isDouble() && minutes.toDouble() == minutes.toInt())))
    return error(400, "\"minutes\" is a whole number of minutes, 0 for until ended", "minutes");
  const auto ids = player_ids(body->value("players"), bad);
  if (!ids) return bad;
  QStringList targets;
  if (body->value("players").isString())
    targets << "all";
  else
    for (const QJsonValue& t : body->value("players").toArray()) targets << t.toString();
  const Outcome o = a.start(content, *ids, targets, minutes.toInt());
  return o.ok() ? json(202, announcement_json(a)) : refusal(o);
}

// What the dashboards show at a glance, kept by the server so that a reload
// or a second browser sees it too: the outages not over, and the running
// announcement.
api::Response ApiRoutes::alerts() {
  QJsonArray open;
  for (const auto& a : c_.history.open_alerts())
    open.append(QJsonObject{{"title", a.title},
                            {"text", a.text},
                            {"since", QDateTime::fromMSecsSinceEpoch(a.since_ms).toUTC().toString(Qt::ISODateWithMs)},
                            {"players", QJsonArray::fromStringList(a.ids)}});
  return json(200, QJsonObject{{"alerts", open}, {"announcement", announcement_json(c_.announcement)}});
}

// ?lines=N (1 to 1,000, 100 when missing): what the server logged lately,
// the per-player lines aside, oldest first.
api::Response ApiRoutes::log(const api::Request& request) {
  const QUrlQuery query(text(request.query));
  bool number = true;
  const int lines = query.hasQueryItem("lines") ? query.queryItemValue("lines").toInt(&number) : 100;
  if (!number || lines < 1 || lines > 1000) return error(400, "\"lines\" must be a whole number from 1 to 1000", "lines");
  QJsonArray out;
  for (const ConsoleLine& line : recent_console_lines(lines))
    out.append(QJsonObject{{"time", QDateTime::fromMSecsSinceEpoch(line.time_ms).toUTC().toString(Qt::ISODateWithMs)},
                           {"text", line.text}});
  return json(200, QJsonObject{{"lines", out}});
}

}  // namespace tavri
