#pragma once
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace tavri::history {

// Tells the operator when screens go dark and come back: a player offline
// for longer than the grace time (one lost datagram alarms nobody), and its
// return once it had been reported. What happens within one check is one
// notification: a floor powered off is one message with the count.
class OfflineAlerts {
 public:
  static constexpr qint64 kGraceMs = 60000;
  // Players that go dark this close to the first of an outage share its alert.
  static constexpr qint64 kOutageMs = 30000;
  struct Alert {
    QString title, text;
    bool offline = true;  // or back
    QStringList ids;
    qint64 since_ms = 0;  // when the first went dark, or came back
  };
  using Notify = std::function<void(const Alert& alert)>;

  explicit OfflineAlerts(Notify notify, qint64 grace_ms = kGraceMs) : notify_(std::move(notify)), grace_ms_(grace_ms) {}
  void online_changed(const QString& id, const QString& name, bool online, qint64 since_ms);
  // Once a second.
  void check(qint64 now_ms);
  int reported_offline() const { return int(reported_.size()); }
  // The outages told and not over, oldest first; each with the players
  // still dark (its alert as it was told).
  const QList<Alert>& open() const { return open_; }

 private:
  struct Dark {
    QString name;
    qint64 since = 0;
  };
  Notify notify_;
  qint64 grace_ms_;
  QHash<QString, Dark> dark_;       // offline, not reported yet
  QHash<QString, QString> reported_;  // reported offline: id, name
  QStringList back_, back_ids_;     // reported ones that came back since the last check
  QList<Alert> open_;
};

}  // namespace tavri::history
