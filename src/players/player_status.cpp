#include "player_status.h"

#include "players/net/wire_protocol.h"

#include <iterator>

#include <algorithm>

namespace tavri::players {
namespace {
// The number in a value, or nothing when the value is missing.
std::optional<qint64> number(const QVariant& v) {
  if (!v.isValid() || v.isNull()) return std::nullopt;
  bool ok = false;
  const qint64 n = v.toLongLong(&ok);
  return ok ? std::optional<qint64>(n) : std::nullopt;
}
}  // namespace

bool is_stale(const QVariant& status_time, const QDateTime& now) {
  const QDateTime t = status_time.toDateTime();
  return t.isValid() && silent_for_too_long(t.toMSecsSinceEpoch(), now.toMSecsSinceEpoch());
}

QString Device_Status(const QVariant& v) {
  switch (number(v).value_or(-1)) {
    case 0: return "WAITING FOR PLAYLIST";
    case 1: return "DOWNLOADING MOVIES";
    case 2: return "READY";
    case 3: return "NEW PLAYLIST";
    default: return "DEVICE ERROR";
  }
}

QString Player_Status(const QVariant& v) {
  switch (number(v).value_or(0)) {
    case 1: return "Icon_play";
    case 2: return "Icon_send";
    case 3: return "tavri_icon_attention";
    default: return "Icon_pause";
  }
}

QString Menue_Status(const QVariant& v) { return number(v) == 1 ? "icon_menue" : "icon_menue_leer"; }

QString Sound_Status(const QVariant& v) { return number(v) == 1 ? "tavri_mute" : "tavri_sound_on"; }


bool is_online(const Record& player, const QDateTime& now) {
  const QVariant t = player.value("status_time");
  return t.toDateTime().isValid() && !is_stale(t, now);
}

QString playback_name(int status_player) {
  switch (status_player) {
    case 1: return "play";
    case 2: return "send";
    case 3: return "attention";
    default: return "pause";
  }
}

QString device_state(const Record& player, const QDateTime& now) {
  return is_online(player, now) ? Device_Status(player.value("status_device")) : QString("OFFLINE");
}

QString time_ago(const QVariant& time, const QDateTime& now) {
  const QDateTime t = time.toDateTime();
  if (!t.isValid()) return {};
  const qint64 s = std::max<qint64>(0, t.secsTo(now));
  if (s < 60) return QString("%1 s ago").arg(s);
  if (s < 3600) return QString("%1 min ago").arg(s / 60);
  if (s < 86400) return QString("%1 h ago").arg(s / 3600);
  return QString("%1 d ago").arg(s / 86400);
}

Census count_players(const RecordList& players, const QDateTime& now) {
  Census c;
  for (int i = 0; i < players.size(); ++i) ++(is_online(players.at(i), now) ? c.online : c.offline);
  return c;
}

namespace {
struct CommandName {
  int code;
  const char* name;
};
constexpr CommandName kCommandNames[] = {
    {wire::kSimpleFeedback, "FEEDBACK"}, {wire::kPlay, "PLAY"},
    {wire::kPause, "PAUSE"},             {wire::kRename, "RENAME"},
    {wire::kLoadPlaylist, "LOAD PLAYLIST"}, {wire::kMenuOff, "MENU OFF"},
    {wire::kMenuOn, "MENU ON"},          {wire::kClearList, "CLEAR LIST"},
    {wire::kNext, "NEXT"},               {wire::kClearContent, "CLEAR CONTENT"},
    {wire::kMuteOn, "MUTE"},             {wire::kMuteOff, "SOUND"},
    {wire::kWebStream, "WEB STREAM"},    {wire::kBack, "BACK"},
    {wire::kLoadSchedule, "LOAD SCHEDULE"}, {wire::kRefreshLists, "REFRESH LISTS"},
    {wire::kReset, "RESET"},             {wire::kBackground, "BACKGROUND"},
};
// Indexed by code: every code has its name, in code order.
constexpr bool names_follow_codes() {
  for (std::size_t i = 0; i < std::size(kCommandNames); ++i)
    if (kCommandNames[i].code != static_cast<int>(i)) return false;
  return std::size(kCommandNames) == wire::kBackground + 1;
}
static_assert(names_follow_codes(), "the command-name table and the command codes differ");
}  // namespace

QString command_name(int code) {
  return code >= 0 && code < static_cast<int>(std::size(kCommandNames)) ? QString(kCommandNames[code].name)
                                                                         : QString("COMMAND %1").arg(code);
}

std::optional<int> command_code(const QString& name) {
  QString wanted = name.trimmed().toUpper();
  wanted.replace('-', ' ').replace('_', ' ');
  for (const auto& c : kCommandNames)
    if (wanted == QLatin1String(c.name)) return c.code;
  return std::nullopt;
}

}  // namespace tavri::players
