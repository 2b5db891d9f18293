#include "player_map.h"

#include <algorithm>

#include "core/console.h"
#include "core/named_images.h"
#include "players/player_status.h"

namespace tavri::player_map {

QSizeF rebuild(RecordList& devices, QSizeF background, QSizeF window_frame, QSizeF visible_area) {
  double width = std::max(background.width(), window_frame.width());
  double height = std::max(background.height(), window_frame.height());
  // One change for the table, not one per player.
  devices.begin_changes();
  QStringList log;
  for (int i = 0; i < devices.size(); ++i) {
    const Record& r = devices.at(i);
    const QVariant stored = r.value(kIconKey);
    const bool had_icon = stored.canConvert<MapIcon>();
    const MapIcon before = stored.value<MapIcon>();
    MapIcon icon = before;
    // A record with an icon keeps its place, whatever its name (an empty one too).
    if (had_icon) {
      log.append(QString("INSERT: %1").arg(icon.name));
      if (icon.frame.x() > width) width = icon.frame.x() + kGrowMargin;
      if (icon.frame.y() > height) height = icon.frame.y() + kGrowMargin;
    } else {
      log.append("neues ICON");
      icon.frame = QRectF(visible_area.width() / 2, visible_area.height() / 2, kIconWidth, kIconHeight);
      icon.image = named_image("ICON_ONLINE");
    }
    icon.name = r.value("device_name").toString();
    // Ten thousand icons that kept their place and name are not rewritten.
    if (!had_icon || !(before == icon)) devices.set_value(i, kIconKey, QVariant::fromValue(icon));
  }
  console_log_lines(log);
  devices.end_changes();
  return {width, height};
}

void check_icons(RecordList& devices) {
  devices.begin_changes();
  for (int i = 0; i < devices.size(); ++i) {
    const Record& r = devices.at(i);
    if (!r.value(kIconKey).canConvert<MapIcon>()) continue;
    MapIcon icon = r.value(kIconKey).value<MapIcon>();
    const QImage image = named_image(players::is_online(r) ? "ICON_ONLINE" : "ICON_OFFLINE");
    if (icon.image.cacheKey() == image.cacheKey()) continue;  // unchanged: not rewritten
    icon.image = image;
    devices.set_value(i, kIconKey, QVariant::fromValue(icon));
  }
  devices.end_changes();
}

QString label_text(const QString& text) { return text.size() > 13 ? text.left(10) + "..." : text; }

QPointF drag_origin(QPointF pointer, QPointF offset, QSizeF icon, QRectF parent) {
  QPointF origin = pointer - offset;
  const double top = parent.y() + parent.height();
  if (origin.y() + icon.height() > top) origin.setY(top - icon.height());
  // Nor past the other edges: an icon out of the map could not be reached again.
  origin.setX(std::clamp(origin.x(), parent.x(), std::max(parent.x(), parent.right() - icon.width())));
  origin.setY(std::max(origin.y(), parent.y()));
  return origin;
}

float scale_up(float scale) { return static_cast<float>(static_cast<double>(scale) + 0.1); }

float scale_down(float scale) {
  const float next = static_cast<float>(static_cast<double>(scale) - 0.1);
  return next < kMinScale - 1e-4f ? kMinScale : next;
}

}  // namespace tavri::player_map
