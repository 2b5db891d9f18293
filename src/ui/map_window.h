#pragma once
#include <functional>
#include <QLabel>
#include <optional>
#include <QGraphicsObject>
#include <QGraphicsView>

#include "core/bus.h"
#include "core/dialogs.h"
#include "players/udp_feedback.h"
#include "tool_window_widget.h"

namespace tavri {

class MapWindow;

// One player's icon on the map. Geometry lives in the record's map icon
// (bottom-left map coordinates); the item only draws and forwards the mouse.
class tavri_dragging_image : public QGraphicsObject {
  Q_OBJECT
 public:
  tavri_dragging_image(MapWindow& map, int list_index);
  QRectF boundingRect() const override;
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;
  bool is_selected() const { return is_selected_; }
  // Where its name plate lies, in the icon's coordinates.
  QRectF plate() const;
  void setIs_selected(bool selected);
  int list_index() const { return list_index_; }

 protected:
  void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

 private:
  MapWindow& map_;
  int list_index_;
  bool is_selected_ = false;
};

// The floor plan with one icon per player.
class MapWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  MapWindow(UDP_Feedback& feedback, Bus& bus, Dialogs& dialogs, QWidget* parent = nullptr);
  ~MapWindow() override;
  // What an icon's tooltip says the player shows now, under its name.
  void set_now_playing(std::function<QString(const Record& player)> now) { now_playing_ = std::move(now); }

  void open_map();
  void load_map();
  void reload_map();
  // Scrolls so that the visible area starts at the saved origin.
  void show_origin(QPointF origin);
  // The visible area's bottom-left corner in map coordinates.
  QPointF visible_origin() const;  // at once; the registry's request is queued
  void check_icons_map();
  void change_selection();
  void map_scale_up();
  void map_scale_down();
  void map_scale_100();
  void map_fit();  // the whole map in the window
  void setScale(double factor);

  QSizeF map_size() const { return map_size_; }
  QSizeF visible_size() const;
  float scale() const { return feedback_.map_state().scale; }
  QList<tavri_dragging_image*> icons() const { return icons_; }
  QGraphicsView* view() { return view_; }

  // Map coordinates (bottom-left origin) to scene coordinates and back.
  QPointF to_scene(const QRectF& map_frame) const;
  QPointF to_map(const QPointF& scene_point, double height) const;

  // Called by the icons.
  Record record(int list_index) const;
  void icon_pressed(tavri_dragging_image& icon, QPointF map_pointer);
  void icon_dragged(tavri_dragging_image& icon, QPointF map_pointer);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  std::optional<QPointF> pending_origin_;  // to show once the window is visible

 private:
  QString icon_tooltip(const Record& player) const;
  std::function<QString(const Record&)> now_playing_;
  void remember_state();

  UDP_Feedback& feedback_;
  Bus& bus_;
  Dialogs& dialogs_;
  QGraphicsView* view_;
  QLabel* zoom_ = nullptr;  // the zoom level, in per cent
  QGraphicsScene* scene_;
  QGraphicsPixmapItem* background_ = nullptr;
  QList<tavri_dragging_image*> icons_;
  QSizeF map_size_;
  QPointF drag_offset_;
  bool rebuilding_ = false;
};

}  // namespace tavri
