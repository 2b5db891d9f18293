// GET /api/audit: who changed what, for admins, as JSON or CSV.
#include <QJsonArray>
#include <QRegularExpression>
#include <QUrlQuery>

#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "history/history_store.h"

namespace tavri {

using namespace routes;

namespace {

// "2026-12-09", "2026-12-09T09:12", "2026-12-09T09:12:00Z", or a span back
// from now: "90m", "24h", "7d". Nothing when it is none of these.
std::optional<qint64> time_of(const QString& text, qint64 now_ms) {
  static const QRegularExpression span("^(\\d{1,6})([mhd])$");
  if (const auto m = span.match(text); m.hasMatch()) {
    const qint64 unit = m.captured(2) == "m" ? 60000 : m.captured(2) == "h" ? 3600000 : 86400000;
    return now_ms - m.captured(1).toLongLong() * unit;
  }
  if (const QDate day = QDate::fromString(text, Qt::ISODate); day.isValid())
    return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
  if (const QDateTime at = QDateTime::fromString(text, Qt::ISODate); at.isValid()) return at.toMSecsSinceEpoch();
  return std::nullopt;
}

}  // namespace

ApiRoutes::Answer ApiRoutes::audit(const api::Request& request) {
  const QUrlQuery query(text(request.query));
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  history::AuditFilter filter;
  filter.from_ms = now - 24ll * 3600 * 1000;
  for (const auto& [field, target] : {std::pair{"since", &filter.from_ms}, {"until", &filter.to_ms}}) {
    if (!query.hasQueryItem(field)) continue;
    const auto at = time_of(query.queryItemValue(field, QUrl::FullyDecoded), now);
    if (!at) return error(400, QString("\"%1\" must be a date, a date and time, or a span such as 24h or 7d").arg(field), field);
    *target = *at;
  }
  filter.who = query.queryItemValue("who", QUrl::FullyDecoded).left(128);
  filter.operation = query.queryItemValue("operation", QUrl::FullyDecoded).left(128);
  if (query.hasQueryItem("limit")) {
    bool number = false;
    filter.limit = query.queryItemValue("limit").toInt(&number);
    if (!number || filter.limit < 1 || filter.limit > 100000)
      return error(400, "\"limit\" must be a whole number from 1 to 100000", "limit");
  }
  const QString format = query.queryItemValue("format");
  if (!format.isEmpty() && format != "csv" && format != "json") return error(400, "\"format\" is csv or json", "format");
  history::HistoryStore* store = c_.history.store();
  if (!store) return error(503, "the history is off (see the console)");
  // Read and written out off the main thread: the store reads on a connection of its own.
  return std::function<api::Response()>([store, filter, csv = format == "csv"] {
    // What was done before the question is in the answer.
    store->flush();
    const auto entries = store->audit(filter);
    if (csv) return api::Response{200, "text/csv; charset=utf-8", history::audit_log::csv(entries).toStdString()};
    QJsonArray rows;
    for (const auto& e : entries)
      rows.append(QJsonObject{{"time", QDateTime::fromMSecsSinceEpoch(e.time_ms).toUTC().toString(Qt::ISODateWithMs)},
                              {"who", e.who},
                              {"address", e.address},
                              {"operation", e.operation},
                              {"arguments", e.arguments},
                              {"result", e.result}});
    return json(200, rows);
  });
}

}  // namespace tavri
