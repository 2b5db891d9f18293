#include "notify/alert_router.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRectF>
#include <unistd.h>

#include "players/player_groups.h"
#include "players/player_map.h"
#include "players/player_status.h"
#include "players/udp_feedback.h"

namespace tavri {

namespace {

QString local_time(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd HH:mm:ss t"); }

QString host_name() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? QString::fromLocal8Bit(name) : QString("this machine");
}

QString iso(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toUTC().toString(Qt::ISODate); }

}  // namespace

AlertRouter::AlertRouter(notify::Notifier& notifier, UDP_Feedback& players, PlayerGroups& groups, QObject* parent)
    : QObject(parent), notifier_(notifier), players_(players), groups_(groups) {
  gather_.setSingleShot(true);
  gather_.setInterval(kGatherMs);
  connect(&gather_, &QTimer::timeout, this, &AlertRouter::send_failures);
  connect(&players_, &UDP_Feedback::command_failed, this, &AlertRouter::command_failed);
}

void AlertRouter::send(notify::Message message) {
  if (!notifier_.has_targets()) return;
  message.time = QDateTime::currentSecsSinceEpoch();
  message.text += QString("\n-- \ntavri AV server on %1\n").arg(host_name()).toStdString();
  notifier_.send(message);
}

notify::Message AlertRouter::about_players(const QString& kind, const QString& subject, const QString& lead,
                                           const QStringList& ids, qint64 since_ms) const {
  QString text = lead + "\n\n";
  QJsonArray list;
  const RecordList& devices = players_.ArrayController_DEVICES();
  // One pass over the registry, however many players the outage has.
  QHash<QString, int> at;
  for (int i = 0; i < devices.size(); ++i) at.insert(devices.at(i).value("device_id").toString(), i);
  int listed = 0;
  for (const QString& id : ids) {
    QJsonObject player{{"id", id}};
    QString name = id, ip;
    QJsonValue map;
    if (const auto found = at.constFind(id); found != at.cend()) {
      const Record& r = devices.at(*found);
      name = r.value("device_name").toString();
      ip = r.value("device_ip").toString();
      if (const QVariant icon = r.value(player_map::kIconKey); icon.canConvert<MapIcon>()) {
        const QRectF frame = icon.value<MapIcon>().frame;
        map = QJsonObject{{"x", frame.x()}, {"y", frame.y()}};
      }
    }
    const QStringList groups = groups_.groups_of(id);
    player.insert("name", name);
    player.insert("ip", ip);
    player.insert("groups", QJsonArray::fromStringList(groups));
    player.insert("map", map);
    player.insert("since", iso(since_ms));
    list.append(player);
    if (++listed > kMostListed) continue;
    text += QString("%1 (%2)\n").arg(name, id);
    text += QString("  groups: %1\n").arg(groups.isEmpty() ? "none" : groups.join(", "));
    text += map.isObject() ? QString("  on the map at x %1, y %2\n").arg(map["x"].toDouble()).arg(map["y"].toDouble())
                           : QString("  not on the map\n");
    if (!ip.isEmpty()) text += QString("  address: %1\n").arg(ip);
  }
  if (ids.size() > kMostListed) text += QString("... and %1 more (all of them are in the webhook's details)\n").arg(ids.size() - kMostListed);
  text += QString("\nSince %1.\n").arg(local_time(since_ms));
  const QJsonObject details{{"players", list}, {"count", int(ids.size())}, {"since", iso(since_ms)}};
  return {kind.toStdString(), subject.toStdString(), text.toStdString(),
          QJsonDocument(details).toJson(QJsonDocument::Compact).toStdString(), 0};
}

void AlertRouter::outage(const history::OfflineAlerts::Alert& alert) {
  send(about_players(alert.offline ? "offline" : "online", alert.title, alert.title + ". " + alert.text, alert.ids,
                     alert.since_ms));
}

void AlertRouter::command_failed(const QString& id, int code) {
  QStringList& ids = failed_[players::command_name(code)];
  if (!ids.contains(id)) ids << id;
  if (!gather_.isActive()) gather_.start();
}

void AlertRouter::send_failures() {
  const auto failed = std::exchange(failed_, {});
  for (auto it = failed.begin(); it != failed.end(); ++it) {
    const QString subject = it.value().size() == 1 ? QString("%1 failed on a player").arg(it.key())
                                                   : QString("%1 failed on %2 players").arg(it.key()).arg(it.value().size());
    send(about_players("command-failed", subject,
                       QString("The players' feedback never showed %1, though it was sent again.").arg(it.key()),
                       it.value(), QDateTime::currentMSecsSinceEpoch()));
  }
}

void AlertRouter::console_line(const QString& line) {
  const bool folder = line.startsWith("content folder not reachable");
  const bool save = line.contains("SAVE ERROR");
  if (!folder && !save) return;
  // A disk that fails fails many saves: one message a minute at most.
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (now - last_storage_ms_ < 60000) return;
  last_storage_ms_ = now;
  const QString subject = folder ? "The content folder cannot be read" : "A file could not be saved";
  const QString text = line + "\n\n" +
                       (folder ? "The playlists keep their items; the folder is scanned as soon as it can be read.\n"
                               : "The disk may be full or failing. What was not saved is kept in memory and saved again "
                                 "with the next change.\n");
  send({"storage", subject.toStdString(), text.toStdString(),
        QJsonDocument(QJsonObject{{"line", line}}).toJson(QJsonDocument::Compact).toStdString(), 0});
}

void AlertRouter::restored(bool ok, const QString& detail) {
  const QString subject = ok ? "The server was restored from a backup" : "A restore failed";
  send({"restore", subject.toStdString(), (detail + "\n").toStdString(),
        QJsonDocument(QJsonObject{{"ok", ok}, {"detail", detail}}).toJson(QJsonDocument::Compact).toStdString(), 0});
}

notify::Message AlertRouter::test_message(const QString& who) const {
  return {"test", "A test from tavri AV server",
          QString("%1 asked for this test. Notifications reach this address.\n\n-- \ntavri AV server on %2\n")
              .arg(who, host_name())
              .toStdString(),
          QJsonDocument(QJsonObject{{"asked_by", who}}).toJson(QJsonDocument::Compact).toStdString(),
          QDateTime::currentSecsSinceEpoch()};
}

}  // namespace tavri
