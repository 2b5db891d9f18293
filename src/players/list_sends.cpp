#include "list_sends.h"

#include <QVariantList>
#include <QVariantMap>
#include <algorithm>

namespace tavri {
namespace {

QVariantList sorted_ids(const QSet<qint64>& ids) {
  QList<qint64> list(ids.begin(), ids.end());
  std::sort(list.begin(), list.end());
  QVariantList out;
  for (qint64 id : list) out.append(id);
  return out;
}

QSet<qint64> ids_of(const QVariant& value) {
  QSet<qint64> ids;
  for (const QVariant& v : value.toList()) {
    bool ok = false;
    const qint64 id = v.toLongLong(&ok);
    if (ok) ids.insert(id);
  }
  return ids;
}

}  // namespace

void ListSends::sent(const QString& device_id, qint64 list_id) { sent_[device_id].insert(list_id); }

void ListSends::taken(qint64 list_id) {
  retaken_.insert(list_id);
  for (auto it = sent_.begin(); it != sent_.end();) {
    it->remove(list_id);
    it = it->isEmpty() ? sent_.erase(it) : std::next(it);
  }
}

bool ListSends::known(const QString& device_id, qint64 list_id) const {
  if (!retaken_.contains(list_id)) return true;
  const auto it = sent_.constFind(device_id);
  return it != sent_.constEnd() && it->contains(list_id);
}

QVariant ListSends::to_variant() const {
  // Nothing kept: the file stays as earlier versions wrote it.
  if (sent_.isEmpty() && retaken_.isEmpty()) return {};
  QVariantMap players;
  for (auto it = sent_.begin(); it != sent_.end(); ++it) players.insert(it.key(), sorted_ids(*it));
  return QVariantMap{{"retaken", sorted_ids(retaken_)}, {"sent", players}};
}

ListSends ListSends::from_variant(const QVariant& value) {
  ListSends sends;
  const QVariantMap top = value.toMap();
  sends.retaken_ = ids_of(top.value("retaken"));
  const QVariantMap players = top.value("sent").toMap();
  for (auto it = players.begin(); it != players.end(); ++it)
    if (QSet<qint64> ids = ids_of(it.value()); !ids.isEmpty()) sends.sent_.insert(it.key(), std::move(ids));
  return sends;
}

}  // namespace tavri
