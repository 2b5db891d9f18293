#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "core/record.h"

namespace tavri {

// Commands whose effect a player's feedback shows (a load as its list id, a
// rename as its name, play and pause, the menu and the sound), followed
// until the feedback shows them: sent again with growing pauses while it
// does not, and given up after a number of sends. The others (next, back,
// clear, reset, background, web stream, refresh, the feedback request) leave
// once, as the players' protocol has no answer for them.
// Plain logic on the main thread: the caller sends and keeps the clock.
class CommandTracker {
 public:
  struct Options {
    qint64 first_wait_ms = 8000;  // two check intervals: a player reports every few seconds
    double backoff = 1.5;          // each further wait is this much longer
    int most_sends = 8;            // 0.2 loss both ways leaves about 1 in 10^5 players unserved
  };
  struct Command {
    QString device_id;
    int code = 0;
    QStringList arguments;
    std::string bytes;  // the datagram, as sent
    int sends = 1;
    qint64 last_sent_ms = 0;
    quint64 order = 0;  // resends leave in the order the commands first did
  };
  // What became of the commands of the latest operator action.
  struct Tally {
    int code = -1;
    int total = 0, confirmed = 0, failed = 0;
  };

  CommandTracker() = default;
  explicit CommandTracker(Options options) : options_(options) {}

  static bool confirmable(int code);

  // A command left for a player: a confirmable one is followed, replacing
  // one of the same kind still pending for that player. `new_action`
  // starts the tally of a new operator action.
  void sent(const QString& device_id, int code, const QStringList& arguments, std::string bytes, qint64 now_ms,
            bool new_action);
  // A player's feedback: the commands it shows are confirmed and returned.
  std::vector<Command> feedback(const Record& player);
  // The datagrams due again now, and the commands given up (returned once).
  struct Due {
    std::vector<std::string> resend;
    std::vector<Command> failed;
  };
  Due tick(qint64 now_ms);
  // A player that left the registry is followed no more.
  void forget(const QString& device_id);

  // For the players table: "LOAD PLAYLIST: 3rd send" or "RENAME failed", or empty.
  QString state_of(const QString& device_id) const;
  const Tally& tally() const { return tally_; }
  int pending() const;
  // "LOAD PLAYLIST: 98 of 100 confirmed, 2 failed"
  QString tally_text() const;

 private:
  enum class Slot { list, name, playback, menu, sound };
  static std::optional<Slot> slot_of(int code);
  static bool shows(const Command& command, const Record& player);
  qint64 wait_after(int sends) const;

  Options options_;
  // Per player, per slot: what is pending (or failed, until the next one).
  struct Entry {
    Slot slot;
    Command command;
    bool failed = false;
    quint64 action = 0;  // the operator action it belongs to
  };
  QHash<QString, std::vector<Entry>> entries_;
  Tally tally_;
  quint64 action_ = 0;
  quint64 order_ = 0;
};

}  // namespace tavri
