#include "api/player_query.h"

#include <QJsonObject>
#include <QUrlQuery>
#include <algorithm>

namespace tavri::player_query {

namespace {

constexpr int kMostPerPage = 10000;

bool matches(const QJsonObject& p, const QString& text, const QStringList& groups) {
  for (const char* key : {"id", "name", "ip", "state", "now_playing"})
    if (p.value(key).toString().contains(text, Qt::CaseInsensitive)) return true;
  if (p.value("list").toObject().value("name").toString().contains(text, Qt::CaseInsensitive)) return true;
  return std::any_of(groups.begin(), groups.end(), [&](const QString& g) { return g.contains(text, Qt::CaseInsensitive); });
}

}  // namespace

const QStringList& known_fields() {
  static const QStringList fields{"id", "name", "ip", "claimed_by", "online", "state", "playback", "menu", "muted", "list",
                                  "track", "now_playing", "background", "device_time", "last_seen", "command",
                                  "uptime_24h", "map"};
  return fields;
}

std::optional<Query> parse(const QString& text, QString* error, QString* field) {
  const QUrlQuery q(text);
  Query query;
  auto refuse = [&](const QString& why, const QString& at) {
    *error = why;
    *field = at;
    return std::nullopt;
  };
  for (const auto& [key, value] : q.queryItems(QUrl::FullyDecoded)) {
    if (value.size() > 256) return refuse(QString("\"%1\" is too long").arg(key), key);
    if (key == "fields") {
      query.fields = value.split(',', Qt::SkipEmptyParts);
      for (const QString& f : query.fields)
        if (!known_fields().contains(f)) return refuse(QString("\"%1\" is not a field of a player").arg(f), key);
    } else if (key == "limit") {
      bool number = false;
      query.limit = value.toInt(&number);
      if (!number || query.limit < 1 || query.limit > kMostPerPage)
        return refuse(QString("\"limit\" must be a whole number from 1 to %1").arg(kMostPerPage), key);
    } else if (key == "cursor") {
      query.cursor = value;
    } else if (key == "state") {
      query.state = value;
    } else if (key == "group") {
      query.group = value;
    } else if (key == "q") {
      query.text = value.trimmed();
    } else if (key == "format") {
      if (value != "compact" && value != "full") return refuse("\"format\" is compact or full", key);
      query.compact = value == "compact";
    } else {
      return refuse(QString("\"%1\" is not a parameter of this list").arg(key), key);
    }
  }
  return query;
}

QJsonValue shape(const Query& query, const QJsonArray& players, const QSet<QString>& members,
                 const QHash<QString, QStringList>& groups) {
  std::vector<QJsonObject> kept;
  kept.reserve(std::size_t(players.size()));
  for (const QJsonValue& v : players) {
    const QJsonObject p = v.toObject();
    const QString id = p.value("id").toString();
    if (!query.group.isEmpty() && !members.contains(id)) continue;
    if (query.state == "online" || query.state == "offline") {
      if (p.value("online").toBool() != (query.state == "online")) continue;
    } else if (!query.state.isEmpty() && p.value("state").toString().compare(query.state, Qt::CaseInsensitive) != 0) {
      continue;
    }
    if (!query.text.isEmpty() && !matches(p, query.text, groups.value(id))) continue;
    kept.push_back(p);
  }
  const bool paged = query.limit > 0 || !query.cursor.isEmpty();
  const int total = int(kept.size());
  QString next;
  if (paged) {
    // Pages by id: a player that comes or goes between two pages moves no other.
    std::sort(kept.begin(), kept.end(), [](const QJsonObject& a, const QJsonObject& b) {
      return a.value("id").toString() < b.value("id").toString();
    });
    if (!query.cursor.isEmpty())
      kept.erase(kept.begin(), std::upper_bound(kept.begin(), kept.end(), query.cursor, [](const QString& c, const QJsonObject& p) {
                   return c < p.value("id").toString();
                 }));
    if (query.limit > 0 && int(kept.size()) > query.limit) {
      kept.resize(std::size_t(query.limit));
      next = kept.back().value("id").toString();
    }
  }
  const QStringList fields = query.fields.isEmpty() ? known_fields() : query.fields;
  QJsonArray rows;
  for (const QJsonObject& p : kept) {
    if (query.compact) {
      QJsonArray row;
      for (const QString& f : fields) row.append(p.value(f));
      rows.append(row);
    } else if (!query.fields.isEmpty()) {
      QJsonObject row;
      for (const QString& f : fields) row.insert(f, p.value(f));
      rows.append(row);
    } else {
      rows.append(p);
    }
  }
  if (!paged && !query.compact) return rows;
  QJsonObject out{{"players", rows}, {"total", total}, {"next", next.isEmpty() ? QJsonValue() : QJsonValue(next)}};
  if (query.compact) out.insert("fields", QJsonArray::fromStringList(fields));
  return out;
}

}  // namespace tavri::player_query
