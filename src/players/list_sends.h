#pragma once
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace tavri {

// Which list ids each player was sent since the id was last given to a new
// list. Feedback carries only the id, and a removed list's id can go to
// another list: a player still playing the old one must not be shown under
// the new one's name.
class ListSends {
 public:
  void sent(const QString& device_id, qint64 list_id);
  // The last list a player was sent is a schedule (its id and its tasks'
  // playlists), or a playlist, which ends what a schedule said.
  void sent_schedule(const QString& device_id, qint64 schedule_id, const QSet<qint64>& task_lists);
  void sent_playlist(const QString& device_id) { schedules_.remove(device_id); }
  // What a player was last told to play by this server: a list's load
  // command or a web stream, with its arguments. What an announcement
  // gives back at its end.
  struct Last {
    int code = 0;
    QStringList arguments;
  };
  void last(const QString& device_id, int code, const QStringList& arguments) { last_.insert(device_id, {code, arguments}); }
  void forget_last(const QString& device_id) { last_.remove(device_id); }
  // The background image this server last gave the player (its path).
  void background(const QString& device_id, const QString& path) { backgrounds_.insert(device_id, path); }
  QString background_of(const QString& device_id) const { return backgrounds_.value(device_id); }
  std::optional<Last> last_of(const QString& device_id) const {
    const auto it = last_.constFind(device_id);
    return it == last_.constEnd() ? std::nullopt : std::optional<Last>(*it);
  }
  // The schedule a player runs when it reports `reported`: the last list it
  // was sent is that schedule, and the id is the schedule's or one of its
  // tasks' playlists' (players report either).
  std::optional<qint64> schedule_shown(const QString& device_id, qint64 reported) const;
  // A new list took this id: earlier sends of it no longer name it.
  void taken(qint64 list_id);
  // An id never given anew since this was kept is taken at its word.
  bool known(const QString& device_id, qint64 list_id) const;
  void forget(const QString& device_id) {
    sent_.remove(device_id);
    schedules_.remove(device_id);
    last_.remove(device_id);
    backgrounds_.remove(device_id);
  }
  void clear() {
    sent_.clear();
    schedules_.clear();
    last_.clear();
    backgrounds_.clear();
  }

  // As the registry file keeps it; an absent or foreign value reads as
  // empty, and nothing kept gives an invalid value (no key in the file).
  QVariant to_variant() const;
  static ListSends from_variant(const QVariant& value);

 private:
  QHash<QString, QSet<qint64>> sent_;
  QSet<qint64> retaken_;
  struct SentSchedule {
    qint64 id = 0;
    QSet<qint64> task_lists;
  };
  QHash<QString, SentSchedule> schedules_;
  QHash<QString, Last> last_;
  QHash<QString, QString> backgrounds_;
};

}  // namespace tavri
