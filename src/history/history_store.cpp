#include "history_store.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>
#include <atomic>

#include "core/console.h"
#include "core/folders.h"

namespace tavri::history {
namespace {

constexpr char kFormat[] = "tavri-history-1";

// One connection per thread and purpose: Qt's connections are not shared
// between threads.
QSqlDatabase connect(const QString& path, const QString& name) {
  QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                 : QSqlDatabase::addDatabase("QSQLITE", name);
  db.setDatabaseName(path);
  db.open();
  return db;
}

bool exec(QSqlDatabase& db, const QString& sql) {
  QSqlQuery q(db);
  if (q.exec(sql)) return true;
  console_log(QString("HISTORY: %1: %2").arg(sql.left(40), q.lastError().text()));
  return false;
}

// A file that SQLite accepts as its own and that carries our format mark.
bool is_ours(QSqlDatabase& db) {
  QSqlQuery q(db);
  if (!q.exec("PRAGMA quick_check") || !q.next() || q.value(0).toString() != "ok") return false;
  if (!q.exec("SELECT value FROM meta WHERE key = 'format'") || !q.next()) return false;
  return q.value(0).toString() == kFormat;
}

bool create_schema(QSqlDatabase& db) {
  return exec(db, "PRAGMA journal_mode=WAL") && exec(db, "PRAGMA synchronous=NORMAL") &&
         exec(db, "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT)") &&
         exec(db, QString("INSERT OR IGNORE INTO meta VALUES('format', '%1')").arg(kFormat)) &&
         exec(db, "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, "
                  "device_id TEXT NOT NULL, kind TEXT NOT NULL, detail TEXT)") &&
         exec(db, "CREATE INDEX IF NOT EXISTS events_by_device ON events(device_id, time)") &&
         exec(db, "CREATE TABLE IF NOT EXISTS runs(id INTEGER PRIMARY KEY, device_id TEXT NOT NULL, "
                  "device_name TEXT, playlist_id TEXT, playlist_name TEXT, start INTEGER NOT NULL, "
                  "end INTEGER NOT NULL, period INTEGER NOT NULL, tracks TEXT NOT NULL)") &&
         exec(db, "CREATE INDEX IF NOT EXISTS runs_by_end ON runs(end)") && exec(db, audit_log::kSchema) &&
         exec(db, "CREATE INDEX IF NOT EXISTS audit_by_time ON audit(time)");
}

QString tracks_text(const Run& r) {
  QJsonArray a;
  for (int i = 0; i < r.tracks.size(); ++i) a.append(QJsonArray{r.tracks[i], double(r.offsets.value(i))});
  return QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact));
}

void read_tracks(Run& r, const QString& text) {
  for (const QJsonValue& v : QJsonDocument::fromJson(text.toUtf8()).array()) {
    r.tracks << v.toArray().at(0).toString();
    r.offsets << qint64(v.toArray().at(1).toDouble());
  }
}

std::atomic<int> connection_serial{0};

// Reads go through a connection of the calling thread's own.
QSqlDatabase reader(const QString& path, const QString& connection) {
  return connect(path, connection + "-read-" + QString::number(quintptr(QThread::currentThreadId())));
}

// Texts go in as UTF-8 bytes, which the statements cast to text: bound as
// UTF-16, a leading byte-order mark would be taken as one and dropped, and
// a player whose id starts with it would miss its rows.
void bind(QSqlQuery& q, std::initializer_list<QVariant> values) {
  for (const QVariant& v : values)
    q.addBindValue(v.typeId() == QMetaType::QString ? QVariant(v.toString().toUtf8()) : v);
}

}  // namespace

HistoryStore::HistoryStore() : connection_(QString("history-%1").arg(connection_serial++)) {}

HistoryStore::~HistoryStore() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool HistoryStore::open(const QString& path, QString* damaged_copy) {
  path_ = path;
  {
    QSqlDatabase db = connect(path, connection_ + "-open");
    bool fresh = false;
    {
      QSqlQuery q(db);
      fresh = !QFileInfo::exists(path) || (q.exec("SELECT count(*) FROM sqlite_master") && q.next() && q.value(0).toInt() == 0);
    }
    if (!db.isOpen() || (!fresh && !is_ours(db))) {
      db.close();
      QSqlDatabase::removeDatabase(connection_ + "-open");
      const QString kept = keep_damaged_copy(path);
      if (kept.isEmpty()) {  // not kept: not overwritten either
        error_ = QFileInfo(path).isDir() ? "it is a folder, not a file"
                                         : "it is not a history file, and no copy of it could be kept aside";
        return false;
      }
      for (const char* side : {"", "-wal", "-shm"}) QFile::remove(path + side);
      console_log(QString("HISTORY: kept a damaged or foreign file aside: %1").arg(kept));
      if (damaged_copy) *damaged_copy = kept;
      db = connect(path, connection_ + "-open");
    }
    const bool ok = db.isOpen() && create_schema(db);
    if (ok) {
      QSqlQuery q(db);
      if (q.exec("SELECT coalesce(max(id), 0) + 1 FROM runs") && q.next()) next_run_id_ = q.value(0).toLongLong();
    }
    if (!ok) error_ = db.isOpen() ? "it does not have the tables this version records into" : db.lastError().text();
    db.close();
    if (!ok) return false;
  }
  QSqlDatabase::removeDatabase(connection_ + "-open");
  thread_ = std::thread([this] { work(); });
  return true;
}

void HistoryStore::record(Event event) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
  wake_.notify_one();
}

void HistoryStore::record(const Run& run) {
  std::lock_guard lock(mutex_);
  next_run_id_ = std::max(next_run_id_, run.id + 1);
  runs_[run.id] = run;
  wake_.notify_one();
}

void HistoryStore::record(AuditEntry entry) {
  std::lock_guard lock(mutex_);
  audit_.push_back(std::move(entry));
  wake_.notify_one();
}

std::vector<AuditEntry> HistoryStore::audit(const AuditFilter& filter) const {
  QSqlDatabase db = reader(path_, connection_);
  return audit_log::read(db, filter);
}

void HistoryStore::flush() {
  std::unique_lock lock(mutex_);
  wake_.notify_one();
  idle_.wait(lock, [this] { return !thread_.joinable() || (events_.empty() && runs_.empty() && audit_.empty() && !busy_); });
}

void HistoryStore::set_retention_for_tests(qint64 retention_ms, qint64 size_cap_bytes) {
  std::lock_guard lock(mutex_);
  retention_ms_ = retention_ms;
  size_cap_ = size_cap_bytes;
}

void HistoryStore::set_retention(qint64 retention_ms) {
  std::lock_guard lock(mutex_);
  retention_ms_ = retention_ms;
}

void HistoryStore::prune_now() {
  {
    std::lock_guard lock(mutex_);
    last_prune_ms_ = 0;
  }
  flush();
  record(Event{});  // wakes the writer, which prunes first
  flush();
}

void HistoryStore::work() {
  QSqlDatabase db = connect(path_, connection_);
  exec(db, "PRAGMA synchronous=NORMAL");
  for (;;) {
    std::deque<Event> events;
    std::unordered_map<qint64, Run> runs;
    std::deque<AuditEntry> audit;
    {
      std::unique_lock lock(mutex_);
      // About a second of events per transaction: a kill loses at most that.
      wake_.wait_for(lock, std::chrono::seconds(1),
                     [this] { return stopping_ || !events_.empty() || !runs_.empty() || !audit_.empty(); });
      if (!stopping_ && events_.size() + runs_.size() < 50000) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the second's events gather
        lock.lock();
      }
      events.swap(events_);
      runs.swap(runs_);
      audit.swap(audit_);
      busy_ = true;
    }
    if (!events.empty() || !runs.empty() || !audit.empty()) write_batch(events, runs, audit);
    if (now_ms() - last_prune_ms_.load() > 3600 * 1000) prune();
    std::lock_guard lock(mutex_);
    busy_ = false;
    idle_.notify_all();
    if (stopping_ && events_.empty() && runs_.empty() && audit_.empty()) break;
  }
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase(connection_);
}

void HistoryStore::write_batch(std::deque<Event>& events, std::unordered_map<qint64, Run>& runs,
                               std::deque<AuditEntry>& audit) {
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  db.transaction();
  // Texts from the network go in as bound values only.
  QSqlQuery e(db);
  e.prepare("INSERT INTO events(time, device_id, kind, detail) VALUES(?, CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT))");
  for (const Event& ev : events) {
    if (ev.kind.isEmpty()) continue;
    bind(e, {ev.time_ms, ev.device_id, ev.kind, ev.detail});
    if (!e.exec()) console_log("HISTORY: " + e.lastError().text());
  }
  QSqlQuery r(db);
  r.prepare("INSERT OR REPLACE INTO runs(id, device_id, device_name, playlist_id, playlist_name, start, end, period, "
            "tracks) VALUES(?, CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT), ?, ?, ?, CAST(? AS TEXT))");
  for (const auto& [id, run] : runs) {
    bind(r, {run.id, run.device_id, run.device_name, run.playlist_id, run.playlist_name, run.start_ms, run.end_ms,
             run.period_ms, tracks_text(run)});
    if (!r.exec()) console_log("HISTORY: " + r.lastError().text());
  }
  audit_log::write(db, audit);
  if (!db.commit()) console_log("HISTORY: " + db.lastError().text());
}

void HistoryStore::prune() {
  last_prune_ms_ = now_ms();
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  const qint64 oldest = now_ms() - retention_ms_;
  QSqlQuery q(db);
  q.prepare("DELETE FROM events WHERE time < ?");
  bind(q, {oldest});
  q.exec();
  q.prepare("DELETE FROM runs WHERE end < ?");
  bind(q, {oldest});
  q.exec();
  audit_log::prune(db, oldest);
  // Over the cap: the oldest tenth goes, until it fits.
  for (int round = 0; round < 10 && QFileInfo(path_).size() > size_cap_; ++round) {
    QSqlQuery cut(db);
    cut.exec("DELETE FROM events WHERE id IN (SELECT id FROM events ORDER BY time LIMIT "
             "(SELECT count(*) / 10 + 1 FROM events))");
    cut.exec("DELETE FROM runs WHERE id IN (SELECT id FROM runs ORDER BY end LIMIT (SELECT count(*) / 10 + 1 FROM runs))");
    cut.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    cut.exec("VACUUM");
  }
}

std::vector<Event> HistoryStore::events(const QString& device_id, qint64 from_ms, qint64 to_ms, int limit) const {
  std::vector<Event> out;
  QSqlDatabase db = reader(path_, connection_);
  QSqlQuery q(db);
  q.prepare("SELECT time, kind, detail FROM events WHERE device_id = CAST(? AS TEXT) AND time >= ? AND time <= ? "
            "ORDER BY time DESC, id DESC LIMIT ?");
  bind(q, {device_id, from_ms, to_ms, limit});
  if (q.exec())
    while (q.next()) out.push_back({q.value(0).toLongLong(), device_id, q.value(1).toString(), q.value(2).toString()});
  return out;
}

QString rebuild_history(const QString& source, const QString& target, qint64 max_rows) {
  static std::atomic<int> serial{0};
  const QString in_name = QString("tavri-rebuild-in-%1").arg(++serial), out_name = in_name + "-out";
  QString error;
  {
    QSqlDatabase in = QSqlDatabase::addDatabase("QSQLITE", in_name);
    in.setConnectOptions("QSQLITE_OPEN_READONLY");
    in.setDatabaseName(source);
    QSqlQuery q(in);
    auto count = [&](const char* table) {
      return q.exec(QString("SELECT count(*) FROM %1").arg(table)) && q.next() ? q.value(0).toLongLong() : -1;
    };
    qint64 events = -1, runs = -1;
    if (!in.open() || !is_ours(in)) {
      error = "not a history of this server";
    } else if (!q.exec("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('events', 'runs')") ||
               !q.next() || q.value(0).toInt() != 2) {
      // A view under a table's name would run whatever it holds.
      error = "its events or runs are not plain tables";
    } else if ((events = count("events")) < 0 || (runs = count("runs")) < 0) {
      error = "its rows cannot be read";
    } else if (events + runs > max_rows) {
      error = QString("too large: %1 rows, at most %2").arg(events + runs).arg(max_rows);
    } else {
      QFile::remove(target);
      QSqlDatabase out = QSqlDatabase::addDatabase("QSQLITE", out_name);
      out.setDatabaseName(target);
      QSqlQuery w(out);
      const bool ready = out.open() && create_schema(out) && exec(out, "PRAGMA journal_mode=DELETE") && out.transaction();
      bool copied = ready && q.exec("SELECT time, device_id, kind, detail FROM events ORDER BY id") &&
                    w.prepare("INSERT INTO events(time, device_id, kind, detail) "
                              "VALUES(?, CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT))");
      while (copied && q.next()) {
        bind(w, {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
        copied = w.exec();
      }
      copied = copied &&
               q.exec("SELECT id, device_id, device_name, playlist_id, playlist_name, start, end, period, tracks "
                      "FROM runs ORDER BY id") &&
               w.prepare("INSERT INTO runs(id, device_id, device_name, playlist_id, playlist_name, start, end, period, "
                         "tracks) VALUES(?, CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT), ?, ?, ?, "
                         "CAST(? AS TEXT))");
      while (copied && q.next()) {
        bind(w, {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                 q.value(4).toString(), q.value(5).toLongLong(), q.value(6).toLongLong(), q.value(7).toLongLong(),
                 q.value(8).toString()});
        copied = w.exec();
      }
      if (!copied) {
        error = QString("its rows could not be copied: %1").arg(w.lastError().text().isEmpty() ? q.lastError().text()
                                                                                                : w.lastError().text());
        out.rollback();
      } else if (!out.commit()) {
        error = out.lastError().text();
      }
      w.finish();
      out.close();
    }
    q.finish();
    in.close();
  }
  QSqlDatabase::removeDatabase(in_name);
  QSqlDatabase::removeDatabase(out_name);
  if (!error.isEmpty()) QFile::remove(target);
  return error;
}

QString HistoryStore::copy_to(const QString& path) const {
  QSqlDatabase db = reader(path_, connection_);
  QSqlQuery q(db);
  q.prepare("VACUUM INTO ?");
  q.addBindValue(path);
  return q.exec() ? QString() : q.lastError().text();
}

std::vector<Run> HistoryStore::runs(qint64 from_ms, qint64 to_ms, const QStringList& device_ids) const {
  std::vector<Run> out;
  QSqlDatabase db = reader(path_, connection_);
  QSqlQuery q(db);
  q.prepare("SELECT id, device_id, device_name, playlist_id, playlist_name, start, end, period, tracks FROM runs "
            "WHERE end >= ? AND start <= ? ORDER BY device_id, start");
  bind(q, {from_ms, to_ms});
  if (q.exec())
    while (q.next()) {
      Run r;
      r.id = q.value(0).toLongLong();
      r.device_id = q.value(1).toString();
      if (!device_ids.isEmpty() && !device_ids.contains(r.device_id)) continue;
      r.device_name = q.value(2).toString();
      r.playlist_id = q.value(3).toString();
      r.playlist_name = q.value(4).toString();
      r.start_ms = q.value(5).toLongLong();
      r.end_ms = q.value(6).toLongLong();
      r.period_ms = q.value(7).toLongLong();
      read_tracks(r, q.value(8).toString());
      out.push_back(r);
    }
  return out;
}

namespace {
// Walks one player's first_seen/online/offline events in time order.
struct SpanWalk {
  qint64 from, to;
  bool online = false;
  qint64 since = 0, first_seen = -1, online_ms = 0;
  std::vector<std::pair<qint64, qint64>> spans;
  void event(qint64 t, const QString& kind) {
    if (kind == "first_seen" && first_seen < 0) first_seen = t;
    if (kind == "online" && !online) {
      online = true;
      since = t;
    } else if (kind == "offline" && online) {
      online = false;
      close(t);
    }
  }
  void close(qint64 t) {
    const qint64 a = std::max(since, from), b = std::min(t, to);
    if (b > a) {
      online_ms += b - a;
      spans.emplace_back(a, b);
    }
  }
  void finish(bool online_now) {
    if (online && online_now) close(to);
  }
  double share() const {
    const qint64 begin = std::max(from, first_seen < 0 ? from : first_seen);
    return to > begin ? double(online_ms) / double(to - begin) : 0.0;
  }
};
}  // namespace

QHash<QString, double> HistoryStore::uptimes(qint64 from, qint64 to, const QSet<QString>& online_now) const {
  QHash<QString, SpanWalk> walks;
  QSqlDatabase db = reader(path_, connection_);
  QSqlQuery q(db);
  // Each player's state at the start, then what changed within.
  q.prepare("SELECT device_id, time, kind FROM events e WHERE kind IN ('first_seen', 'online', 'offline') AND "
            "(time >= ? OR kind = 'first_seen' OR time = (SELECT max(time) FROM events f WHERE f.device_id = e.device_id "
            "AND f.kind IN ('online', 'offline') AND f.time < ?)) AND time <= ? ORDER BY device_id, time, id");
  bind(q, {from, from, to});
  if (q.exec())
    while (q.next()) {
      const QString id = q.value(0).toString();
      auto it = walks.find(id);
      if (it == walks.end()) it = walks.insert(id, SpanWalk{from, to, false, 0, -1, 0, {}});
      it->event(q.value(1).toLongLong(), q.value(2).toString());
    }
  QHash<QString, double> out;
  for (auto it = walks.begin(); it != walks.end(); ++it) {
    it->finish(online_now.contains(it.key()));
    out.insert(it.key(), it->share());
  }
  return out;
}

std::vector<std::pair<qint64, qint64>> HistoryStore::online_spans(const QString& device_id, qint64 from, qint64 to,
                                                                  bool online_now) const {
  SpanWalk walk{from, to, false, 0, -1, 0, {}};
  QSqlDatabase db = reader(path_, connection_);
  QSqlQuery q(db);
  q.prepare("SELECT time, kind FROM events WHERE device_id = CAST(? AS TEXT) AND kind IN ('first_seen', 'online', 'offline') AND "
            "(time >= ? OR kind = 'first_seen' OR time = (SELECT max(time) FROM events WHERE device_id = CAST(? AS TEXT) AND kind IN "
            "('online', 'offline') AND time < ?)) AND time <= ? ORDER BY time, id");
  bind(q, {device_id, from, device_id, from, to});
  if (q.exec())
    while (q.next()) walk.event(q.value(0).toLongLong(), q.value(1).toString());
  // Still online at the end of the range: it lasted past it when anything
  // was recorded later, or when the player is online now.
  QSqlQuery later(db);
  later.prepare("SELECT 1 FROM events WHERE device_id = CAST(? AS TEXT) AND kind IN ('online', 'offline') AND time > ? LIMIT 1");
  bind(later, {device_id, to});
  walk.finish(online_now || (later.exec() && later.next()));
  return walk.spans;
}

QStringList HistoryStore::known_players() const {
  QStringList out;
  QSqlDatabase db = reader(path_, connection_);
  QSqlQuery q(db);
  if (q.exec("SELECT DISTINCT device_id FROM events"))
    while (q.next()) out << q.value(0).toString();
  return out;
}

}  // namespace tavri::history
