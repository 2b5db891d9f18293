#pragma once
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>

namespace tavri {

// Which list ids each player was sent since the id was last given to a new
// list. Feedback carries only the id, and a removed list's id can go to
// another list: a player still playing the old one must not be shown under
// the new one's name.
class ListSends {
 public:
  void sent(const QString& device_id, qint64 list_id);
  // A new list took this id: earlier sends of it no longer name it.
  void taken(qint64 list_id);
  // An id never given anew since this was kept is taken at its word.
  bool known(const QString& device_id, qint64 list_id) const;
  void forget(const QString& device_id) { sent_.remove(device_id); }
  void clear() { sent_.clear(); }

  // As the registry file keeps it; an absent or foreign value reads as
  // empty, and nothing kept gives an invalid value (no key in the file).
  QVariant to_variant() const;
  static ListSends from_variant(const QVariant& value);

 private:
  QHash<QString, QSet<qint64>> sent_;
  QSet<qint64> retaken_;
};

}  // namespace tavri
