#pragma once
#include <optional>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "core/record.h"
#include "core/record_list.h"

// The player table's display transformers and the online rule.
namespace tavri::players {

inline constexpr double kOnlineSeconds = 8.0;

QString Device_Status(const QVariant& status_device);
QString Player_Status(const QVariant& status_player);
QString Menue_Status(const QVariant& status_menue);
QString Sound_Status(const QVariant& status_sound);
// True once a feedback time is more than 8.0 seconds old (none: false).
bool is_stale(const QVariant& status_time, const QDateTime& now);
// The same rule on times as milliseconds since the epoch, for lists of thousands.
inline bool silent_for_too_long(qint64 heard_ms, qint64 now_ms) { return double(now_ms - heard_ms) > kOnlineSeconds * 1000.0; }
// Online while the last feedback is at most 8.0 seconds old.
bool is_online(const Record& player, const QDateTime& now = QDateTime::currentDateTime());
// The device state as the table shows it: "OFFLINE" once the player is
// silent by the rule above, whatever it last reported.
QString device_state(const Record& player, const QDateTime& now = QDateTime::currentDateTime());
// The playback the table shows as an icon, in words: "play", "send",
// "attention" or "pause".
QString playback_name(int status_player);
// How long ago a time was: "12 s ago", "3 min ago", "5 h ago", "2 d ago";
// empty for no time.
QString time_ago(const QVariant& time, const QDateTime& now = QDateTime::currentDateTime());
struct Census {
  int online = 0, offline = 0;
};
Census count_players(const RecordList& players, const QDateTime& now = QDateTime::currentDateTime());

// What a command code asks for, as the operator's status line names it: "PLAY".
QString command_name(int code);
// The code of a command named as the status line names it, in any case,
// with "-" or "_" for the spaces ("menu-off"); nothing for no command.
std::optional<int> command_code(const QString& name);

}  // namespace tavri::players
