#pragma once
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "history/offline_alerts.h"
#include "notify/notifier.h"

namespace tavri {

class UDP_Feedback;
class PlayerGroups;

// Turns what happens on the players' network into notifications: an
// outage (one message per outage, as the banner groups them), players
// back, commands that failed after their retries (gathered for a few
// seconds, so a fleet that fails at once is one message), a content folder
// or a disk that fails, and a restore. Each message names the players,
// their groups, their place on the map and since when. Main thread.
class AlertRouter : public QObject {
  Q_OBJECT
 public:
  static constexpr int kGatherMs = 10000;
  static constexpr int kMostListed = 50;

  AlertRouter(notify::Notifier& notifier, UDP_Feedback& players, PlayerGroups& groups, QObject* parent = nullptr);

  void outage(const history::OfflineAlerts::Alert& alert);
  // A line of the console that tells of a failing folder or disk.
  void console_line(const QString& line);
  void restored(bool ok, const QString& detail);
  // What "send a test" sends.
  notify::Message test_message(const QString& who) const;
  // The players' lines and JSON of a message, for ids; public for tests.
  notify::Message about_players(const QString& kind, const QString& subject, const QString& lead,
                                const QStringList& ids, qint64 since_ms) const;

 private:
  void command_failed(const QString& id, int code);
  void send_failures();
  void send(notify::Message message);

  notify::Notifier& notifier_;
  UDP_Feedback& players_;
  PlayerGroups& groups_;
  QHash<QString, QStringList> failed_;  // by command name: the players
  QTimer gather_;
  qint64 last_storage_ms_ = 0;
};

}  // namespace tavri
