#pragma once
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include "core/record_list.h"

// The player map's geometry, in map coordinates with the origin at the
// bottom left; the front end converts only when drawing.
namespace tavri::player_map {

inline constexpr char kIconKey[] = "ICON";
inline constexpr double kIconWidth = 70, kIconHeight = 50;
inline constexpr double kGrowMargin = 40;
inline constexpr float kMinScale = 0.1f;

// Rebuilds the icons of every record: the map's size is the background's,
// grown to the window frame and to every icon that lies beyond it; records
// without an icon get a new one at the centre of the visible area.
// Returns the map size.
QSizeF rebuild(RecordList& devices, QSizeF background, QSizeF window_frame, QSizeF visible_area);

// The online or offline image for every record with an icon.
void check_icons(RecordList& devices);

// A label of at most `max` characters: a longer one loses its middle, and
// keeps more of its end, where player names differ ("Simulated SIM-0012",
// "Simulated OFF-0012").
QString label_text(const QString& text, int max = 13);

// New icons' grid: one cell an icon with its name plate below it.
inline constexpr double kCellWidth = kIconWidth + 30, kCellHeight = 110;

// A dragged icon's new origin; it cannot pass the parent's top edge.
QPointF drag_origin(QPointF pointer, QPointF offset, QSizeF icon, QRectF parent);

// Zoom steps of 0.1, never below 0.1.
float scale_up(float scale);
float scale_down(float scale);

}  // namespace tavri::player_map
