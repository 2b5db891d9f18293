#pragma once
#include <atomic>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "history/audit_log.h"

namespace tavri::history {

inline qint64 now_ms() { return QDateTime::currentMSecsSinceEpoch(); }

// Something that happened to a player: first seen, online, offline, a new
// list, an error, a command sent to it.
struct Event {
  qint64 time_ms = 0;  // since the epoch
  QString device_id;
  QString kind;        // "first_seen", "online", "offline", "list", "error", "command"
  QString detail;
};

// What a player played without a break: one list, its tracks in a cycle
// that repeats every period (0: played once), from start to end.
struct Run {
  qint64 id = 0;
  QString device_id, device_name, playlist_id, playlist_name;
  qint64 start_ms = 0, end_ms = 0, period_ms = 0;
  QStringList tracks;      // in playing order
  QList<qint64> offsets;   // of each track from the cycle's start
};

// The player history in an SQLite file (WAL): events and play runs,
// written by a thread of its own in transactions of at most about a second
// of events, so the main thread only queues; pruned to the retention and a
// size cap in the background.
// A history from elsewhere (a backup) made anew: its events and runs
// copied row by row into a fresh file of this server's schema at `target`,
// so that nothing else it held (triggers, views, other tables) comes along.
// The source is opened read-only. The error, or empty; past `max_rows`
// rows the error starts with "too large".
QString rebuild_history(const QString& source, const QString& target, qint64 max_rows = 20'000'000);

class HistoryStore {
 public:
  static constexpr int kRetentionDays = 90;
  static constexpr qint64 kSizeCapBytes = 256ll * 1024 * 1024;

  HistoryStore();
  ~HistoryStore();  // writes what is queued, then closes
  // Opens (or creates) the file; a damaged or foreign one is kept aside as
  // "<name>.damaged-<time>" and a new one started. False when no file can be made.
  bool open(const QString& path, QString* damaged_copy = nullptr);
  // Why the last open failed, for the operator.
  QString error() const { return error_; }
  QString path() const { return path_; }

  void record(Event event);
  // A run is written when it starts, and again whenever its end moves.
  void record(const Run& run);
  void record(AuditEntry entry);
  // Newest first (its own connection, any thread).
  std::vector<AuditEntry> audit(const AuditFilter& filter) const;
  // Blocks until everything queued is in the file.
  void flush();
  qint64 next_run_id() const { return next_run_id_; }
  void set_retention_for_tests(qint64 retention_ms, qint64 size_cap_bytes);
  // How long events are kept (the configuration's retention).
  void set_retention(qint64 retention_ms);
  void prune_now();

  // Reads (their own connection, any thread).
  std::vector<Event> events(const QString& device_id, qint64 from_ms, qint64 to_ms, int limit = 1000) const;
  std::vector<Run> runs(qint64 from_ms, qint64 to_ms, const QStringList& device_ids = {}) const;
  // A consistent copy of the whole database in a new file at `path`, taken
  // while it is written (after a flush); the error, or empty.
  QString copy_to(const QString& path) const;
  // Every player with an event on file (read from the index, at start-up).
  QStringList known_players() const;
  // Online share of each player within [from, to], counted from its first
  // sighting; `online_now` are those whose last span is still open.
  QHash<QString, double> uptimes(qint64 from_ms, qint64 to_ms, const QSet<QString>& online_now) const;
  // Online spans of one player within [from, to] (an open one ends at to).
  std::vector<std::pair<qint64, qint64>> online_spans(const QString& device_id, qint64 from_ms, qint64 to_ms,
                                                      bool online_now) const;

 private:
  void work();
  void write_batch(std::deque<Event>& events, std::unordered_map<qint64, Run>& runs, std::deque<AuditEntry>& audit);
  void prune();
  QString path_;
  QString connection_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<Event> events_;
  std::unordered_map<qint64, Run> runs_;  // by id: only a run's newest state is written
  std::deque<AuditEntry> audit_;
  bool stopping_ = false, busy_ = false;
  std::thread thread_;
  qint64 next_run_id_ = 1;
  // Set by callers, read by the writer thread.
  std::atomic<qint64> retention_ms_{qint64(kRetentionDays) * 24 * 3600 * 1000};
  std::atomic<qint64> size_cap_{kSizeCapBytes};
  std::atomic<qint64> last_prune_ms_{0};
  QString error_;
};

}  // namespace tavri::history
