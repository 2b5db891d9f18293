#pragma once
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "core/record.h"

namespace tavri {

// What became of the commands of one operator action.
struct CommandTally {
  int code = -1;
  int total = 0, confirmed = 0, failed = 0;
  int unconfirmable = 0;  // next or back to a list of one track: nothing changes to see
  quint64 action = 0;
};
// What a player was when a command left for it.
struct CommandPlayer {
  QString track;
  bool online = true;
  int tracks = -1;  // in the list it plays; -1 when not known
};

// Commands whose effect a player's feedback shows (a load as its list id, a
// rename as its name, play and pause, the menu and the sound, a web stream
// as the track that becomes its address, next and back as the track's
// change, a background as the one reported), followed until the feedback
// shows them: sent again with growing pauses while it does not, and given
// up after a number of sends, within a minute (a list load is still
// offered once a minute after that, for half an hour, and counted confirmed
// if it shows). A player that is offline at the send has failed at once. A player that reports it is downloading or
// taking a new list is working on a load: it is not sent the load again
// (which would start its download over) while it keeps saying so. The
// others (clear, reset, refresh, the feedback request) leave once, as the
// players' protocol has no answer for them: "sent, not confirmable".
// Plain logic on the main thread: the caller sends and keeps the clock.
class CommandTracker {
 public:
  struct Options {
    qint64 first_wait_ms = 8000;  // two check intervals: a player reports every few seconds
    double backoff = 1.15;         // each further wait is this much longer
    // Sends at 0, 8, 17 and 28 s, 40 s, given up (reported failed) at
    // 54 s; at 0.3 loss about 1 player in 400 is, and a load is then still
    // offered once a minute (late_wait_ms).
    int most_sends = 5;
    // How long a player downloading a list is waited for before the load
    // is followed again as usual: large media on a slow link.
    qint64 working_limit_ms = 30 * 60 * 1000;
    // After a report of downloading, no resend for this long: a lost
    // report or two must not start the download over.
    qint64 working_grace_ms = 20000;
    // A load reported failed is still offered this often, until the
    // working limit: a screen left without its list on a lossy network
    // gets it yet.
    qint64 late_wait_ms = 60000;
  };
  struct Command {
    QString device_id;
    int code = 0;
    QStringList arguments;
    std::string bytes;  // the datagram, as sent
    int sends = 1;
    qint64 last_sent_ms = 0, first_sent_ms = 0;
    quint64 order = 0;  // resends leave in the order the commands first did
    QString baseline;   // next and back: the track when it was sent
    QString failure;    // "offline", or empty for sends run out
  };
  using Tally = CommandTally;
  using Player = CommandPlayer;

  CommandTracker() = default;
  explicit CommandTracker(Options options) : options_(options) {}

  static bool confirmable(int code);
  // Next and back: seen only as the track's change.
  static bool by_track_change(int code);

  // A command left for a player: a confirmable one is followed, replacing
  // one of the same kind still pending for that player. `new_action`
  // starts the tally of a new operator action.
  // Returns the command when it failed at once (the player is offline).
  std::optional<Command> sent(const QString& device_id, int code, const QStringList& arguments, std::string bytes,
                              qint64 now_ms, bool new_action, const Player& player = {});
  // A player's feedback: the commands it shows are confirmed and returned.
  std::vector<Command> feedback(const Record& player, qint64 now_ms = 0);
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
  // The latest action's; the recent ones, newest first, each kept until
  // eight newer actions came (an operator sees failures of one before the last).
  const Tally& tally() const { return tallies_.empty() ? kNoTally : tallies_.front(); }
  const std::vector<Tally>& recent_tallies() const { return tallies_; }
  // "LOAD PLAYLIST: 98 of 100 confirmed, 2 failed", or for a command no
  // feedback shows, "CLEAR LIST: sent to 100 players, not confirmable".
  static QString tally_text(const Tally& tally);
  QString tally_text() const { return tally_text(tally()); }
  // The actions whose tally changed since the last call, newest first.
  std::vector<Tally> take_changed();

 private:
  enum class Slot { list, name, playback, menu, sound, track, background };
  static std::optional<Slot> slot_of(int code);
  static bool shows(const Command& command, const Record& player);
  qint64 wait_after(int sends) const;

  Options options_;
  // Per player, per slot: what is pending (or failed, until the next one).
  struct Entry {
    Slot slot;
    Command command;
    bool failed = false;
    bool working = false;  // the player reported it is downloading a list
    bool counted_failed = false;  // in the tally's failures already (offline at the send, or a late load)
    quint64 action = 0;  // the operator action it belongs to
    qint64 working_until_ms = 0;
  };
  Tally* tally_of(quint64 action);
  void changed(quint64 action);

  static inline const Tally kNoTally{};
  static constexpr std::size_t kRecentActions = 8;
  QHash<QString, std::vector<Entry>> entries_;
  std::vector<Tally> tallies_;  // newest first
  std::vector<quint64> changed_;
  quint64 action_ = 0;
  quint64 order_ = 0;
};

}  // namespace tavri
