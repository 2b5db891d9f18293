#include "player_groups.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/text_rule.h"

namespace tavri {
namespace {

std::optional<QString> name_problem(const QString& name) {
  if (name.trimmed().isEmpty()) return QString("a group needs a name");
  if (name != name.trimmed()) return QString("a group's name must not start or end with a space");
  if (name.size() > 64) return QString("a group's name is at most 64 characters");
  // It is a part of the API's paths (/api/groups/NAME).
  if (name.contains('/')) return QString("a group's name must not hold \"/\"");
  if (auto problem = text_rule::problem(name, text_rule::Kind::id)) return *problem;
  return std::nullopt;
}

}  // namespace

PlayerGroups::PlayerGroups(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {}

QStringList PlayerGroups::members(const QString& name) const { return groups_.value(name); }

QStringList PlayerGroups::groups_of(const QString& player) const {
  QStringList names;
  for (auto it = groups_.constBegin(); it != groups_.constEnd(); ++it)
    if (it->contains(player)) names << it.key();
  return names;
}

int PlayerGroups::member_count() const {
  int n = 0;
  for (const QStringList& m : groups_) n += static_cast<int>(m.size());
  return n;
}

Outcome PlayerGroups::create(const QString& name) {
  if (auto problem = name_problem(name)) return Outcome::bad("name", *problem);
  if (groups_.contains(name)) return Outcome::conflict("name", QString("There is a group \"%1\" already.").arg(name));
  if (groups_.size() >= kMostGroups)
    return Outcome::no_room("name", QString("There are %1 groups, the most kept.").arg(kMostGroups));
  groups_.insert(name, {});
  save();
  return Outcome::done();
}

Outcome PlayerGroups::remove(const QString& name) {
  if (!groups_.remove(name)) return Outcome::unknown("group", QString("No group is named \"%1\".").arg(name));
  save();
  return Outcome::done();
}

Outcome PlayerGroups::add(const QString& name, const QStringList& players) {
  auto it = groups_.find(name);
  if (it == groups_.end()) return Outcome::unknown("group", QString("No group is named \"%1\".").arg(name));
  for (const QString& id : players)
    if (auto problem = text_rule::problem(id, text_rule::Kind::id))
      return Outcome::bad("players", QString("\"%1\": %2").arg(id.left(64), *problem));
  // Sets, not list searches: a group may hold thousands of players.
  QSet<QString> present(it->begin(), it->end());
  QStringList added;
  for (const QString& id : players)
    if (!present.contains(id)) {
      present.insert(id);
      added << id;
    }
  if (member_count() + added.size() > kMostMembers)
    return Outcome::no_room("players", QString("Groups hold %1 players at most, counted over all groups.").arg(kMostMembers));
  if (added.isEmpty()) return Outcome::done();
  *it += added;
  save();
  return Outcome::done();
}

Outcome PlayerGroups::take_out(const QString& name, const QStringList& players) {
  auto it = groups_.find(name);
  if (it == groups_.end()) return Outcome::unknown("group", QString("No group is named \"%1\".").arg(name));
  qsizetype removed = 0;
  for (const QString& id : players) removed += it->removeAll(id);
  if (removed) save();
  return Outcome::done();
}

void PlayerGroups::forget_players(const QStringList& players) {
  const QSet<QString> gone(players.begin(), players.end());
  bool changed_any = false;
  for (QStringList& m : groups_) changed_any |= m.removeIf([&](const QString& id) { return gone.contains(id); }) > 0;
  if (changed_any) save();
}

std::optional<QStringList> PlayerGroups::resolve(const QStringList& targets, const QStringList& known,
                                                 Outcome* refusal) const {
  QStringList ids;
  QSet<QString> seen;
  const QSet<QString> known_set(known.begin(), known.end());
  auto take = [&](const QString& id) {
    if (!seen.contains(id)) {
      seen.insert(id);
      ids << id;
    }
  };
  for (const QString& target : targets) {
    if (target == "all") {
      for (const QString& id : known) take(id);
    } else if (target.startsWith(kPrefix)) {
      const QString name = target.mid(static_cast<qsizetype>(std::char_traits<char>::length(kPrefix)));
      if (!groups_.contains(name)) {
        if (refusal) *refusal = Outcome::unknown("players", QString("No group is named \"%1\".").arg(name));
        return std::nullopt;
      }
      // A member the registry no longer holds is not sent to.
      for (const QString& id : groups_.value(name))
        if (known_set.contains(id)) take(id);
    } else {
      take(target);
    }
  }
  return ids;
}

QByteArray PlayerGroups::encode() const {
  QJsonArray list;
  for (auto it = groups_.constBegin(); it != groups_.constEnd(); ++it)
    list.append(QJsonObject{{"name", it.key()}, {"players", QJsonArray::fromStringList(*it)}});
  return QJsonDocument(QJsonObject{{"groups", list}}).toJson(QJsonDocument::Indented);
}

std::optional<QMap<QString, QStringList>> PlayerGroups::decode(const QByteArray& bytes, QString* error,
                                                               QStringList* dropped) {
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
  if (parse.error != QJsonParseError::NoError || !doc.isObject() || !doc.object().value("groups").isArray()) {
    if (error) *error = "not a groups file (a JSON object with a list \"groups\")";
    return std::nullopt;
  }
  QMap<QString, QStringList> groups;
  int members = 0;
  for (const QJsonValue& v : doc.object().value("groups").toArray()) {
    const QString name = v.toObject().value("name").toString();
    if (name_problem(name) || groups.contains(name) || groups.size() >= kMostGroups) {
      if (dropped) *dropped << QString("a group \"%1\" left out").arg(name.left(64));
      continue;
    }
    QStringList ids;
    QSet<QString> seen;
    for (const QJsonValue& id : v.toObject().value("players").toArray()) {
      const QString text = id.toString();
      if (!id.isString() || text_rule::problem(text, text_rule::Kind::id) || seen.contains(text) ||
          members >= kMostMembers) {
        if (dropped) *dropped << QString("a player of \"%1\" left out").arg(name);
        continue;
      }
      ids << text;
      seen.insert(text);
      ++members;
    }
    groups.insert(name, ids);
  }
  return groups;
}

void PlayerGroups::load() {
  if (path_.isEmpty()) return;
  const auto bytes = read_file(path_);
  if (!bytes) return;  // none yet
  QString error;
  QStringList dropped;
  const auto groups = decode(*bytes, &error, &dropped);
  if (!groups) {
    const QString copy = keep_damaged_copy(path_);
    console_log(QString("GROUPS NOT READ: %1 (%2), kept as %3").arg(path_, error, copy));
    return;
  }
  for (const QString& line : dropped) console_log("GROUPS: " + line);
  groups_ = *groups;
  emit changed();
}

void PlayerGroups::save() {
  emit changed();
  if (path_.isEmpty()) return;
  BackgroundWriter::instance().submit_bytes(path_, [bytes = encode()] { return bytes; }, "SAVE GROUPS !!!!!");
}

}  // namespace tavri
