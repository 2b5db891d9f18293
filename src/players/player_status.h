#pragma once
#include <QColor>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "core/record.h"

// The player table's display transformers and the online rule.
namespace tavri::players {

inline constexpr double kOnlineSeconds = 8.0;

QString Device_Status(const QVariant& status_device);
QString Player_Status(const QVariant& status_player);
QString Menue_Status(const QVariant& status_menue);
QString Sound_Status(const QVariant& status_sound);
// Red once the feedback is more than 8.0 seconds old, white otherwise.
QColor TimeStamp_to_color(const QVariant& status_time, const QDateTime& now = QDateTime::currentDateTime());
// Online while the last feedback is at most 8.0 seconds old.
bool is_online(const Record& player, const QDateTime& now = QDateTime::currentDateTime());

}  // namespace tavri::players
