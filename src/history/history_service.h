#pragma once
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>
#include <memory>

#include "core/dialogs.h"
#include "core/record.h"
#include "core/worker.h"
#include "history_recorder.h"
#include "history_store.h"
#include "offline_alerts.h"

namespace tavri {
class UDP_Feedback;
}

namespace tavri::history {

// The player history of the running application: what the registry's
// feedback and the commands tell is recorded, offline players are
// reported, and the operator can export what played.
class HistoryService : public QObject {
  Q_OBJECT
 public:
  // playlist_name: the name of the list a player reports by id, or nothing.
  HistoryService(UDP_Feedback& players, Dialogs& dialogs,
                 std::function<QString(const QString& device_id, const QString& list_id)> playlist_name,
                 QObject* parent = nullptr);
  ~HistoryService() override;
  bool available() const { return store_ != nullptr; }
  HistoryStore* store() { return store_.get(); }
  void set_notifier(std::function<void(const QString& title, const QString& text)> notify) { notify_ = std::move(notify); }
  // The same alerts with the players they name (notifications by mail and webhook).
  void set_alert_listener(OfflineAlerts::Notify listener) { alert_listener_ = std::move(listener); }
  // The outages told and not over (none without the history).
  QList<OfflineAlerts::Alert> open_alerts() const { return alerts_ ? alerts_->open() : QList<OfflineAlerts::Alert>(); }
  // The online share of the last 24 hours, refreshed every minute; empty when unknown.
  QString uptime_24h(const QString& device_id) const;
  // Every player's online share of the last 24 hours (0 to 1), as last
  // refreshed: a cheap copy, to be read on another thread.
  QHash<QString, double> uptimes_24h() const { return uptime_24h_; }
  static QString uptime_text(double share);  // "97.5 %"
  bool is_online(const QString& device_id) const { return recorder_ && recorder_->is_online(device_id); }
  void refresh_uptimes();  // what the timer does every minute
  // Asks for a date range and a file; the selected players, or all.
  void export_proof_of_play(const RecordArray& players, bool totals);
  // The history's bytes as a consistent copy, on a worker: empty when
  // there is no history, nothing (the reason logged) when it failed.
  void backup(std::function<void(std::optional<QByteArray>)> done);
  // The same CSV for explicit arguments (times in ms since the epoch, the
  // players' ids or none for all), queried off the main thread; `done`
  // gets it on the main thread.
  void proof_of_play(qint64 from_ms, qint64 to_ms, const QStringList& device_ids, bool totals,
                     std::function<void(QByteArray)> done);
  // A player's events in a time range, newest first (at most `limit`), queried the same way.
  void timeline(const QString& device_id, qint64 from_ms, qint64 to_ms, int limit,
                std::function<void(std::vector<Event>)> done);

 signals:
  void recorded();  // new events: what shows them may refresh
  void uptimes_refreshed();

 private:
  UDP_Feedback& players_;
  Dialogs& dialogs_;
  std::function<QString(const QString&, const QString&)> playlist_name_;
  std::unique_ptr<HistoryStore> store_;
  Worker queries_{this};  // before the store goes, its queries end
  std::unique_ptr<HistoryRecorder> recorder_;
  std::unique_ptr<OfflineAlerts> alerts_;
  std::function<void(const QString&, const QString&)> notify_;
  OfflineAlerts::Notify alert_listener_;
  QHash<QString, double> uptime_24h_;
  QTimer tick_, uptime_timer_;
};

}  // namespace tavri::history
