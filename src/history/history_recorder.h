#pragma once
#include <QHash>
#include <QString>
#include <functional>
#include <optional>

#include "history_store.h"

namespace tavri::history {

// What one feedback tells about a player.
struct Sighting {
  QString device_id, device_name;
  int status_device = 0;
  QString playlist_id, playlist_name, track;
};

// Turns the stream of feedback into events and play runs: first seen,
// online and offline by the 8 s rule, a change of list, an error, and the
// tracks played. A steady loop is one run however long it plays: a track
// that comes when the learned cycle says it should extends the run, any
// other change starts a new one.
class HistoryRecorder {
 public:
  static constexpr qint64 kOnlineMs = 8000;
  static constexpr qint64 kCycleToleranceMs = 3000;
  // New players enter the history at a bounded pace, so that a flood of
  // invented ids adds a bounded number of rows a second; a real fleet
  // switched on at once is taken within seconds.
  static constexpr double kNewPlayersPerSecond = 200, kNewPlayersBurst = 2000;

  explicit HistoryRecorder(HistoryStore& store);
  void feedback(const Sighting& s, qint64 now_ms);
  void command(const QString& device_id, int code, const QString& action, qint64 now_ms);
  // What the player's feedback showed of a command: "command_confirmed" or
  // "command_failed" (never shown after every send).
  void command_result(const QString& device_id, int code, const QString& action, bool confirmed, qint64 now_ms);
  // Once a second: players whose last feedback is too old go offline.
  void tick(qint64 now_ms);
  // The application stops: whoever is online is recorded offline from now,
  // and open runs end, so that no span stays open for ever.
  void close_all(qint64 now_ms);
  // Called with each player that went offline or came back.
  std::function<void(const QString& id, const QString& name, bool online, qint64 since_ms)> on_online_change;

  bool is_online(const QString& device_id) const;

 private:
  struct Player {
    QString name;
    bool online = false;
    qint64 last_seen = 0;
    int status_device = 0;
    QString playlist_id, playlist_name, track;
    std::optional<Run> run;
    int position = 0;          // in the cycle, once the period is known
    int cycles = 0;            // completed since the run started
    qint64 cycle_start = 0;
    qint64 last_written_end = 0;
  };
  void track_changed(Player& p, const QString& id, qint64 now_ms);
  void go_offline(Player& p, const QString& id, qint64 at_ms, const QString& why);
  void close_run(Player& p, qint64 end_ms);
  void write_run(Player& p, bool force);
  HistoryStore& store_;
  QHash<QString, Player> players_;
  double new_players_allowed_ = kNewPlayersBurst;
  qint64 allowed_at_ms_ = 0;
};

}  // namespace tavri::history
