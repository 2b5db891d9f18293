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

void ListSends::sent_schedule(const QString& device_id, qint64 schedule_id, const QSet<qint64>& task_lists) {
  schedules_.insert(device_id, {schedule_id, task_lists});
}

std::optional<qint64> ListSends::schedule_shown(const QString& device_id, qint64 reported) const {
  const auto it = schedules_.constFind(device_id);
  if (it == schedules_.constEnd() || (it->id != reported && !it->task_lists.contains(reported))) return std::nullopt;
  return it->id;
}

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
  if (sent_.isEmpty() && retaken_.isEmpty() && schedules_.isEmpty() && last_.isEmpty() && backgrounds_.isEmpty()) return {};
  QVariantMap players;
  for (auto it = sent_.begin(); it != sent_.end(); ++it) players.insert(it.key(), sorted_ids(*it));
  QVariantMap top{{"retaken", sorted_ids(retaken_)}, {"sent", players}};
  // Each player's schedule: its id first, then its tasks' playlists.
  QVariantMap schedules;
  for (auto it = schedules_.begin(); it != schedules_.end(); ++it)
    schedules.insert(it.key(), QVariantList{it->id} + sorted_ids(it->task_lists));
  if (!schedules.isEmpty()) top.insert("schedules", schedules);
  QVariantMap last;
  for (auto it = last_.begin(); it != last_.end(); ++it)
    last.insert(it.key(), QVariantList{it->code} + QVariantList(it->arguments.begin(), it->arguments.end()));
  if (!last.isEmpty()) top.insert("last", last);
  QVariantMap backgrounds;
  for (auto it = backgrounds_.begin(); it != backgrounds_.end(); ++it) backgrounds.insert(it.key(), it.value());
  if (!backgrounds.isEmpty()) top.insert("backgrounds", backgrounds);
  return top;
}

ListSends ListSends::from_variant(const QVariant& value) {
  ListSends sends;
  const QVariantMap top = value.toMap();
  sends.retaken_ = ids_of(top.value("retaken"));
  const QVariantMap players = top.value("sent").toMap();
  for (auto it = players.begin(); it != players.end(); ++it)
    if (QSet<qint64> ids = ids_of(it.value()); !ids.isEmpty()) sends.sent_.insert(it.key(), std::move(ids));
  const QVariantMap schedules = top.value("schedules").toMap();
  for (auto it = schedules.begin(); it != schedules.end(); ++it) {
    const QVariantList ids = it.value().toList();
    bool ok = false;
    const qint64 id = ids.value(0).toLongLong(&ok);
    if (ok) sends.schedules_.insert(it.key(), {id, ids_of(ids.mid(1))});
  }
  const QVariantMap last = top.value("last").toMap();
  for (auto it = last.begin(); it != last.end(); ++it) {
    const QVariantList fields = it.value().toList();
    bool ok = false;
    const int code = fields.value(0).toInt(&ok);
    QStringList arguments;
    for (const QVariant& a : fields.mid(1)) arguments << a.toString();
    if (ok) sends.last_.insert(it.key(), {code, arguments});
  }
  const QVariantMap backgrounds = top.value("backgrounds").toMap();
  for (auto it = backgrounds.begin(); it != backgrounds.end(); ++it)
    if (const QString path = it.value().toString(); !path.isEmpty()) sends.backgrounds_.insert(it.key(), path);
  return sends;
}

}  // namespace tavri
