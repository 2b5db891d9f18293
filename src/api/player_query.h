#pragma once
#include <QHash>
#include <QJsonArray>
#include <QJsonValue>
#include <QSet>
#include <QStringList>
#include <optional>

// GET /api/players with what a console of thousands needs: only some
// fields, a page at a time (by id, after a cursor), filtered by state,
// group and text, and a compact form (one array per player). Without any
// of these the list is as it always was. Pure: parsing and shaping only.
namespace tavri::player_query {

struct Query {
  QStringList fields;      // empty: all
  int limit = 0;           // 0: no pages
  QString cursor;          // the last id of the page before
  QString state;           // "online", "offline", or a state text ("READY")
  QString group;           // a group's name
  QString text;            // in the id, name, address, list, what plays or groups
  bool compact = false;
  bool any() const { return !fields.isEmpty() || limit > 0 || !cursor.isEmpty() || !state.isEmpty() || !group.isEmpty() ||
                            !text.isEmpty() || compact; }
};

// The query of "fields=id,name&limit=500&cursor=P9&state=offline&group=Lobby&q=hall&format=compact";
// nothing, with the reason and the parameter at fault, when it is not one.
std::optional<Query> parse(const QString& query, QString* error, QString* field);

// The fields a player has (what "fields" may name).
const QStringList& known_fields();

// `players` (each as the API gives one) filtered, paged and shaped.
// `members`: the group's players (when the query names one); `groups`:
// each player's groups, for the text.
QJsonValue shape(const Query& query, const QJsonArray& players, const QSet<QString>& members,
                 const QHash<QString, QStringList>& groups);

}  // namespace tavri::player_query
