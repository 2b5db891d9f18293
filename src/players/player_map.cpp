#include "player_map.h"

#include <QSet>
#include <algorithm>
#include <cmath>

#include "core/console.h"
#include "core/artwork.h"
#include "players/player_status.h"

namespace tavri::player_map {

namespace {
// New icons go on a grid of cells around the centre of the visible area,
// each in the nearest cell that no icon touches: never on top of another.
class FreeCells {
 public:
  // Cells lie on one grid whatever the view was when a burst arrived:
  // the start is the cell nearest to it.
  explicit FreeCells(QPointF start)
      : start_(std::round(start.x() / kCellWidth) * kCellWidth, std::round(start.y() / kCellHeight) * kCellHeight) {}
  void occupy(const QRectF& frame) {
    // The name plate sits under the icon: the cell below counts too.
    for (int i = column(frame.left()); i <= column(frame.right()); ++i)
      for (int j = row(frame.top() - kPlateHeight); j <= row(frame.bottom()); ++j) taken_.insert(key(i, j));
  }
  QPointF take() {
    for (int ring = 0;; ++ring)
      for (int j = ring; j >= -ring; --j)
        for (int i = -ring; i <= ring; ++i) {
          if (std::max(std::abs(i), std::abs(j)) != ring) continue;
          const QPointF at(start_.x() + i * kCellWidth, start_.y() + j * kCellHeight);
          if (at.x() < 0 || at.y() < 0 || taken_.contains(key(i, j))) continue;
          taken_.insert(key(i, j));
          return at;
        }
  }

 private:
  static constexpr double kPlateHeight = kCellHeight - kIconHeight;
  int column(double x) const { return int(std::floor((x - start_.x()) / kCellWidth)); }
  int row(double y) const { return int(std::floor((y - start_.y()) / kCellHeight)); }
  static qint64 key(int i, int j) { return (qint64(i) << 32) ^ quint32(j); }
  QPointF start_;
  QSet<qint64> taken_;
};
}  // namespace

QSizeF rebuild(RecordList& devices, QSizeF background, QSizeF window_frame, QSizeF visible_area) {
  double width = std::max(background.width(), window_frame.width());
  double height = std::max(background.height(), window_frame.height());
  FreeCells cells(QPointF(visible_area.width() / 2, visible_area.height() / 2));
  for (int i = 0; i < devices.size(); ++i)
    if (const QVariant stored = devices.at(i).value(kIconKey); stored.canConvert<MapIcon>())
      cells.occupy(stored.value<MapIcon>().frame);
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
      icon.frame = QRectF(cells.take(), QSizeF(kIconWidth, kIconHeight));
      if (icon.frame.right() > width) width = icon.frame.right() + kGrowMargin;
      if (icon.frame.bottom() > height) height = icon.frame.bottom() + kGrowMargin;
      icon.image = artwork("ICON_ONLINE");
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
    const PngImage image = artwork(players::is_online(r) ? "ICON_ONLINE" : "ICON_OFFLINE");
    if (icon.image == image) continue;  // unchanged: not rewritten
    icon.image = image;
    devices.set_value(i, kIconKey, QVariant::fromValue(icon));
  }
  devices.end_changes();
}

QString label_text(const QString& text, int max) {
  if (text.size() <= max) return text;
  if (max <= 3) return text.left(std::max(0, max));
  const int tail = (max - 3 + 1) * 3 / 5;
  return text.left(max - 3 - tail) + "..." + text.right(tail);
}

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
