#include "offline_alerts.h"

#include <QDateTime>
#include <algorithm>

namespace tavri::history {

void OfflineAlerts::online_changed(const QString& id, const QString& name, bool online, qint64 since) {
  if (!online) {
    dark_.insert(id, {name, since});
    return;
  }
  dark_.remove(id);  // back within the grace time: nothing to say
  if (reported_.contains(id)) {
    reported_.remove(id);
    back_ << name;
    back_ids_ << id;
    for (Alert& a : open_) a.ids.removeAll(id);
    open_.removeIf([](const Alert& a) { return a.ids.isEmpty(); });
  }
}

void OfflineAlerts::check(qint64 now) {
  // One outage is one alert: players that went dark within kOutageMs of
  // the first are reported together, once the last of them is past the
  // grace time too (a floor's screens stop over some seconds, not at once).
  while (!dark_.isEmpty()) {
    qint64 first = now;
    for (const Dark& d : dark_) first = std::min(first, d.since);
    if (now - first < grace_ms_) break;
    qint64 last = first;
    for (const Dark& d : dark_)
      if (d.since - first <= kOutageMs) last = std::max(last, d.since);
    if (now - last < grace_ms_) break;
    QStringList gone, ids;
    for (auto it = dark_.begin(); it != dark_.end();) {
      if (it->since - first > kOutageMs) {
        ++it;
        continue;
      }
      gone << it->name;
      ids << it.key();
      reported_.insert(it.key(), it->name);
      it = dark_.erase(it);
    }
    gone.sort();
    ids.sort();
    const QString at = QDateTime::fromMSecsSinceEpoch(first).toString("HH:mm");
    const Alert alert =
        gone.size() == 1
            ? Alert{"A player is offline", QString("\"%1\" has sent nothing since %2.").arg(gone.first(), at), true, ids, first}
            : Alert{QString("%1 players are offline").arg(gone.size()),
                    QString("They have sent nothing since %1: %2%3.")
                        .arg(at, QStringList(gone.mid(0, 3)).join(", "),
                             gone.size() > 3 ? QString(" and %1 more").arg(gone.size() - 3) : QString()),
                    true, ids, first};
    open_.append(alert);
    notify_(alert);
  }
  if (back_.size() == 1)
    notify_({"A player is back", QString("\"%1\" answers again.").arg(back_.first()), false, back_ids_, now});
  else if (back_.size() > 1)
    notify_({QString("%1 players are back").arg(back_.size()), QString("They answer again."), false, back_ids_, now});
  back_.clear();
  back_ids_.clear();
}

}  // namespace tavri::history
