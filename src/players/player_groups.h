#pragma once
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

#include "core/outcome.h"

namespace tavri {

// Named sets of players ("Cafeteria", "Lobby"); a player may be in any
// number of them. Kept in a file of our own beside the registry, written
// whole through the atomic writer on the background writer.
class PlayerGroups : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMostGroups = 1000;
  static constexpr int kMostMembers = 100000;  // over all groups
  // "group:NAME" in a list of targets names every member of NAME.
  static constexpr char kPrefix[] = "group:";

  // An empty path keeps the groups in memory only (tests).
  explicit PlayerGroups(QString path, QObject* parent = nullptr);
  // Reads the file; what breaks the text rule or the limits is left out and
  // said on the console. A damaged file is kept aside and nothing is read.
  void load();

  QStringList names() const { return groups_.keys(); }
  bool contains(const QString& name) const { return groups_.contains(name); }
  QStringList members(const QString& name) const;
  QStringList groups_of(const QString& player) const;

  Outcome create(const QString& name);
  Outcome remove(const QString& name);
  // Adds or takes out players, one or many; an unknown group is refused.
  Outcome add(const QString& name, const QStringList& players);
  Outcome take_out(const QString& name, const QStringList& players);
  // Removed players leave every group.
  void forget_players(const QStringList& players);

  // Ids, "group:NAME" entries and "all" (every known player) made into one
  // list of ids, each once, in the order given; an unknown group is refused
  // naming it.
  std::optional<QStringList> resolve(const QStringList& targets, const QStringList& known, Outcome* refusal) const;

  QByteArray encode() const;
  // Nothing, with the reason, when the bytes are not a groups file.
  static std::optional<QMap<QString, QStringList>> decode(const QByteArray& bytes, QString* error,
                                                          QStringList* dropped = nullptr);

 signals:
  void changed();

 private:
  void save();
  int member_count() const;
  QString path_;
  QMap<QString, QStringList> groups_;  // by name, members in the order added
};

}  // namespace tavri
