#include "api/player_query.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUrlQuery>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace tavri::player_query {

namespace {

constexpr int kMostPerPage = 10000;

}  // namespace

// append_field() knows each by its place here.
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

namespace {

// Strings as JSON writes them: quoted, with quotes, backslashes and control
// characters escaped, UTF-8 otherwise as it is.
void append_escaped(std::string& out, const char* begin, const char* end) {
  for (const char* at = begin; at != end; ++at) {
    const char c = *at;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
}

void append_string(std::string& out, const QString& text) {
  out += '"';
  // Most of what players report is ASCII: copied as it is, without a UTF-8 copy first.
  const QChar* u = text.constData();
  const qsizetype n = text.size();
  bool ascii = true;
  for (qsizetype i = 0; i < n && ascii; ++i) ascii = u[i].unicode() < 0x80;
  if (ascii) {
    const std::size_t start = out.size();
    out.resize(start + std::size_t(n));
    for (qsizetype i = 0; i < n; ++i) out[start + std::size_t(i)] = char(u[i].unicode());
    // Escaping is rare: looked for once the copy is made.
    const auto special = [](char c) { return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20; };
    if (std::any_of(out.begin() + std::ptrdiff_t(start), out.end(), special)) {
      const std::string raw = out.substr(start);
      out.resize(start);
      append_escaped(out, raw.data(), raw.data() + raw.size());
    }
  } else {
    const QByteArray utf8 = text.toUtf8();
    append_escaped(out, utf8.constData(), utf8.constData() + utf8.size());
  }
  out += '"';
}

void append_text_or_null(std::string& out, const QString& text) {
  if (text.isEmpty()) out += "null";
  else append_string(out, text);
}

void append_number(std::string& out, double value) {
  out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
}

void append_bool(std::string& out, bool value) { out += value ? "true" : "false"; }

// {"id": ..., "kind": "playlist"|"schedule"|null, "name": ...|null}
void append_list(std::string& out, const Player& p) {
  out += "{\"id\":";
  append_string(out, p.list_id);
  out += ",\"kind\":";
  if (p.list_name.isEmpty()) out += "null";
  else append_string(out, p.list_schedule ? "schedule" : "playlist");
  out += ",\"name\":";
  append_text_or_null(out, p.list_name);
  out += '}';
}

// One field's value; `field` is its place in known_fields().
void append_field(std::string& out, const Player& p, int field) {
  switch (field) {
    case 0: return append_string(out, p.id);
    case 1: return append_string(out, p.name);
    case 2: return append_string(out, p.ip);
    case 3: return append_text_or_null(out, p.claimed_by);
    case 4: return append_bool(out, p.online);
    case 5: return append_string(out, p.state);
    case 6: return append_string(out, p.playback);
    case 7: return append_bool(out, p.menu);
    case 8: return append_bool(out, p.muted);
    case 9: return append_list(out, p);
    case 10: return append_string(out, p.track);
    case 11: return append_text_or_null(out, p.now_playing);
    case 12: return append_string(out, p.background);
    case 13: return append_string(out, p.device_time);
    case 14: return append_text_or_null(out, p.last_seen);
    case 15: return append_text_or_null(out, p.command);
    case 16: return append_text_or_null(out, p.uptime_24h);
    default:
      if (!p.map) return void(out += "null");
      out += "{\"x\":";
      append_number(out, p.map->x());
      out += ",\"y\":";
      append_number(out, p.map->y());
      out += '}';
  }
}

// Fields as their places in known_fields(); by name for an object, as JSON
// objects keep their keys here, as asked for a compact row.
std::vector<int> places(QStringList fields, bool by_name) {
  if (by_name) {
    fields.sort();
    fields.removeDuplicates();
  }
  std::vector<int> out;
  for (const QString& f : fields) out.push_back(int(known_fields().indexOf(f)));
  return out;
}

bool matches(const Player& p, const QString& text, const QStringList& groups) {
  for (const QString* value : {&p.id, &p.name, &p.ip, &p.state, &p.now_playing, &p.list_name})
    if (value->contains(text, Qt::CaseInsensitive)) return true;
  return std::any_of(groups.begin(), groups.end(), [&](const QString& g) { return g.contains(text, Qt::CaseInsensitive); });
}

}  // namespace

QJsonObject to_object(const Player& p) {
  std::string text;
  text += '{';
  for (const int f : places(known_fields(), true)) {
    if (text.size() > 1) text += ',';
    append_string(text, known_fields()[f]);
    text += ':';
    append_field(text, p, f);
  }
  text += '}';
  return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string list_json(const Query& query, const std::vector<Player>& players, const QSet<QString>& members,
                      const QHash<QString, QStringList>& groups) {
  std::vector<const Player*> kept;
  kept.reserve(players.size());
  for (const Player& p : players) {
    if (!query.group.isEmpty() && !members.contains(p.id)) continue;
    if (query.state == "online" || query.state == "offline") {
      if (p.online != (query.state == "online")) continue;
    } else if (!query.state.isEmpty() && p.state.compare(query.state, Qt::CaseInsensitive) != 0) {
      continue;
    }
    if (!query.text.isEmpty() && !matches(p, query.text, groups.value(p.id))) continue;
    kept.push_back(&p);
  }
  const bool paged = query.limit > 0 || !query.cursor.isEmpty();
  const int total = int(kept.size());
  QString next;
  if (paged) {
    // Pages by id: a player that comes or goes between two pages moves no other.
    std::sort(kept.begin(), kept.end(), [](const Player* a, const Player* b) { return a->id < b->id; });
    if (!query.cursor.isEmpty())
      kept.erase(kept.begin(), std::upper_bound(kept.begin(), kept.end(), query.cursor,
                                                [](const QString& c, const Player* p) { return c < p->id; }));
    if (query.limit > 0 && int(kept.size()) > query.limit) {
      kept.resize(std::size_t(query.limit));
      next = kept.back()->id;
    }
  }
  const QStringList fields = query.fields.isEmpty() ? known_fields() : query.fields;
  const std::vector<int> shown = places(fields, !query.compact);
  // Each key written once, quoted, with its colon.
  std::vector<std::string> keys;
  for (const int f : shown) {
    std::string key;
    append_string(key, known_fields()[f]);
    keys.push_back(key + ':');
  }
  std::string rows;
  rows.reserve(kept.size() * (query.compact ? 200 : 400));
  rows += '[';
  for (const Player* p : kept) {
    if (rows.size() > 1) rows += ',';
    rows += query.compact ? '[' : '{';
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (i) rows += ',';
      if (!query.compact) rows += keys[i];
      append_field(rows, *p, shown[i]);
    }
    rows += query.compact ? ']' : '}';
  }
  rows += ']';
  if (!paged && !query.compact) return rows;
  // {"fields": ..., "next": ..., "players": ..., "total": ...}, by name as ever.
  std::string out = "{";
  if (query.compact) {
    out += "\"fields\":[";
    for (int i = 0; i < fields.size(); ++i) {
      if (i) out += ',';
      append_string(out, fields[i]);
    }
    out += "],";
  }
  out += "\"next\":";
  append_text_or_null(out, next);
  out += ",\"players\":" + rows + ",\"total\":" + std::to_string(total) + '}';
  return out;
}

QString iso_utc(qint64 ms) {
  using namespace std::chrono;
  const sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(ms)));
  const year_month_day date(day);
  const unsigned in_day = unsigned(ms - duration_cast<milliseconds>(day.time_since_epoch()).count());  // 0 to 86,399,999
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ", int(date.year()), unsigned(date.month()),
                unsigned(date.day()), in_day / 3600000 % 24, in_day / 60000 % 60, in_day / 1000 % 60, in_day % 1000);
  return QString::fromLatin1(text);
}

}  // namespace tavri::player_query
