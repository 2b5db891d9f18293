#include "history_service.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include "core/console.h"
#include "core/folders.h"
#include "players/player_status.h"
#include "players/udp_feedback.h"
#include "proof_of_play.h"

namespace tavri::history {
namespace {
constexpr qint64 kDayMs = 24ll * 3600 * 1000;
}  // namespace

HistoryService::HistoryService(UDP_Feedback& players, Dialogs& dialogs,
                               std::function<QString(const QString&, const QString&)> playlist_name, QObject* parent)
    : QObject(parent), players_(players), dialogs_(dialogs), playlist_name_(std::move(playlist_name)) {
  QDir().mkpath(application_folder());
  auto store = std::make_unique<HistoryStore>();
  QString damaged;
  const QString path = application_folder() + "/" + kHistoryFile;
  if (!store->open(path, &damaged)) {
    console_log(QString("HISTORY: not recorded: %1: %2").arg(path, store->error()));
    dialogs_.alert("The player history is off.",
                   QString("%1: %2. Nothing is recorded until it is moved away and the server is started again.")
                       .arg(path, store->error()),
                   {"OK"});
    return;
  }
  store_ = std::move(store);
  recorder_ = std::make_unique<HistoryRecorder>(*store_);
  alerts_ = std::make_unique<OfflineAlerts>([this](const OfflineAlerts::Alert& alert) {
    console_log(QString("ALERT: %1 %2").arg(alert.title, alert.text));
    if (notify_) notify_(alert.title, alert.text);
    if (alert_listener_) alert_listener_(alert);
  });
  recorder_->on_online_change = [this](const QString& id, const QString& name, bool online, qint64 since) {
    alerts_->online_changed(id, name, online, since);
  };
  connect(&players_, &UDP_Feedback::feedback_recorded, this, [this](const Record& r) {
    const QString id = r.value("device_id").toString(), list = r.value("id_playlist").toString();
    recorder_->feedback({id, r.value("device_name").toString(), r.value("status_device").toInt(), list,
                         playlist_name_ ? playlist_name_(id, list) : QString(), r.value("id_track").toString()},
                        now_ms());
  });
  connect(&players_, &UDP_Feedback::command_sent_to, this,
          [this](const QString& id, int code) { recorder_->command(id, code, players::command_name(code).toLower(), now_ms()); });
  connect(&players_, &UDP_Feedback::command_confirmed, this, [this](const QString& id, int code) {
    recorder_->command_result(id, code, players::command_name(code).toLower(), true, now_ms());
  });
  connect(&players_, &UDP_Feedback::command_failed, this, [this](const QString& id, int code) {
    recorder_->command_result(id, code, players::command_name(code).toLower(), false, now_ms());
  });
  connect(&tick_, &QTimer::timeout, this, [this] {
    const qint64 now = now_ms();
    recorder_->tick(now);
    alerts_->check(now);
    emit recorded();
  });
  tick_.start(1000);
  connect(&uptime_timer_, &QTimer::timeout, this, &HistoryService::refresh_uptimes);
  uptime_timer_.start(60000);
  if (!damaged.isEmpty())
    dialogs_.alert("The player history could not be read.",
                   QString("It was kept aside as %1; a new history starts now.").arg(damaged), {"OK"});
}

HistoryService::~HistoryService() {
  if (recorder_) recorder_->close_all(now_ms());
}

void HistoryService::refresh_uptimes() {
  if (!store_) return;
  QSet<QString> online;
  const RecordList& registry = players_.ArrayController_DEVICES();
  for (int i = 0; i < registry.size(); ++i) {
    const QString id = registry.at(i).value("device_id").toString();
    if (recorder_->is_online(id)) online.insert(id);
  }
  const qint64 now = now_ms();
  // Ten thousand players' day of events is a query of its own: not on the main thread.
  queries_.run([store = store_.get(), now, online] { return store->uptimes(now - kDayMs, now, online); },
               [this](QHash<QString, double> uptimes) {
                 uptime_24h_ = std::move(uptimes);
                 emit uptimes_refreshed();
               });
}

QString HistoryService::uptime_24h(const QString& device_id) const {
  auto it = uptime_24h_.find(device_id);
  return it == uptime_24h_.end() ? QString() : uptime_text(*it);
}

QString HistoryService::uptime_text(double share) { return QString::number(share * 100.0, 'f', 1) + " %"; }

void HistoryService::export_proof_of_play(const RecordArray& selected, bool totals) {
  if (!store_) return;
  const QDateTime today(QDate::currentDate(), QTime(0, 0));
  const auto from = dialogs_.pick_date("Plays from (the start of this day):", today.addDays(-7));
  if (!from) return;
  const auto to = dialogs_.pick_date("Up to (the end of this day):", today);
  if (!to) return;
  const qint64 from_ms = QDateTime(from->date(), QTime(0, 0)).toMSecsSinceEpoch();
  const qint64 to_ms = QDateTime(to->date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch() - 1;
  PanelOptions options;
  options.prompt = totals ? "Save the play totals as:" : "Save the proof of play as:";
  options.name_field = QString("%1_%2_%3.csv")
                           .arg(totals ? "play_totals" : "proof_of_play", from->date().toString("yyyy-MM-dd"),
                                to->date().toString("yyyy-MM-dd"));
  options.extensions = {"csv"};
  const auto path = dialogs_.save_panel(options);
  if (!path || path->isEmpty()) return;
  QStringList ids;
  for (const Record& r : selected) ids << r.value("device_id").toString();
  // A year of ten thousand players is a long query: the window stays live.
  proof_of_play(from_ms, to_ms, ids, totals, [this, totals, path = *path](QByteArray csv) {
    if (const auto failure = write_file_atomically(path, csv))
      dialogs_.alert("The export was not written.", QString("%1: %2").arg(path, *failure), {"OK"});
    else
      console_log(QString("EXPORTED %1: %2").arg(totals ? "PLAY TOTALS" : "PROOF OF PLAY", path));
  });
}

void HistoryService::backup(std::function<void(std::optional<QByteArray>)> done) {
  if (!store_) return done(QByteArray());
  queries_.run(
      [store = store_.get()]() -> std::optional<QByteArray> {
        store->flush();
        QTemporaryDir dir;
        const QString copy = dir.path() + "/history.sqlite";
        if (const QString error = store->copy_to(copy); !error.isEmpty() || !dir.isValid()) {
          console_log(QString("BACKUP: the history was not copied: %1").arg(error));
          return std::nullopt;
        }
        return read_file(copy);
      },
      std::move(done));
}

void HistoryService::proof_of_play(qint64 from_ms, qint64 to_ms, const QStringList& device_ids, bool totals,
                                   std::function<void(QByteArray)> done) {
  if (!store_) return done(QByteArray());
  queries_.run(
      [store = store_.get(), from_ms, to_ms, device_ids, totals] {
        store->flush();  // the last second's plays are in
        const auto plays = expand_plays(store->runs(from_ms, to_ms, device_ids), from_ms, to_ms);
        return totals ? totals_csv(plays) : plays_csv(plays);
      },
      std::move(done));
}

void HistoryService::timeline(const QString& device_id, qint64 from_ms, qint64 to_ms, int limit,
                              std::function<void(std::vector<Event>)> done) {
  if (!store_) return done({});
  queries_.run(
      [store = store_.get(), device_id, from_ms, to_ms, limit] {
        store->flush();
        return store->events(device_id, from_ms, to_ms, limit);
      },
      std::move(done));
}

}  // namespace tavri::history
