#pragma once
#include <QColor>
#include <QDateTime>
#include <QVariant>

#include "players/player_status.h"

namespace tavri {

// A content or playlist item's name: red when its file was not found.
inline QColor found_to_color(const QVariant& value) {
  if (!value.isValid() || value.isNull()) return Qt::white;
  return value.toInt() == 0 ? QColor(Qt::red) : QColor(Qt::white);
}

namespace players {
// Red once the feedback is more than 8.0 seconds old, white otherwise.
inline QColor TimeStamp_to_color(const QVariant& status_time, const QDateTime& now = QDateTime::currentDateTime()) {
  return is_stale(status_time, now) ? QColor(Qt::red) : QColor(Qt::white);
}
}  // namespace players

}  // namespace tavri
