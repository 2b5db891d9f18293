#include "map_window.h"
#include "named_images.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsSceneMouseEvent>
#include <QHBoxLayout>
#include <QImageReader>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "core/console.h"
#include "core/notifications.h"
#include "players/player_map.h"
#include "players/player_status.h"
#include "widgets/tavri_defaults.h"
#include "window_parts.h"

namespace tavri {

using player_map::kIconKey;

tavri_dragging_image::tavri_dragging_image(MapWindow& map, int list_index) : map_(map), list_index_(list_index) {
  setAcceptedMouseButtons(Qt::LeftButton);
  setFlag(QGraphicsItem::ItemIsFocusable);
}

namespace {
// The labels sit on a plate of their own below the icon, where the artwork
// cannot hide them.
constexpr double kPlateLineHeight = 14, kPlatePadding = 3, kPlateLines = 3;
constexpr double kPlateHeight = kPlateLines * kPlateLineHeight + 2 * kPlatePadding;
// As wide as a cell of the grid, less a gap: plates of neighbours never touch.
constexpr double kPlateWidth = player_map::kCellWidth - 6;

// Centred under an icon of that size.
QRectF plate_under(double w, double h) {
  const double pw = std::max(w, kPlateWidth);
  return QRectF((w - pw) / 2, h + 4, pw, kPlateHeight);
}

// The longest middle-shortened form of `text` that fits `width`; where
// even that is too wide, as much of its end as fits, where names differ.
QString fitted(const QString& text, const QFontMetricsF& metrics, double width) {
  for (int max = static_cast<int>(text.size()); max >= 8; --max) {
    const QString label = player_map::label_text(text, max);
    if (metrics.horizontalAdvance(label) <= width) return label;
  }
  for (int n = std::min<int>(7, static_cast<int>(text.size())); n > 0; --n)
    if (metrics.horizontalAdvance(text.right(n)) <= width) return text.right(n);
  return {};
}

// How the player's state looks at a glance: the frame's colour, and a word
// on the plate, so that colour is not the only sign.
struct StateLook {
  QColor frame;
  QString word;
};
StateLook state_look(const Record& r) {
  if (!players::is_online(r)) return {QColor(128, 128, 128), "offline"};
  const QString state = players::device_state(r);
  if (state == "DEVICE ERROR") return {QColor(230, 40, 40), "error"};
  if (state != "READY") return {QColor(80, 150, 255), state.toLower()};
  const QString playback = players::playback_name(r.value("status_player").toInt());
  if (playback == "pause") return {QColor(255, 170, 0), "paused"};
  return {tavri_defaults::color_tavri_green(), playback == "play" ? "playing" : playback};
}
}  // namespace

QRectF tavri_dragging_image::boundingRect() const {
  const QRectF frame = map_.record(list_index_).value(kIconKey).value<MapIcon>().frame;
  return QRectF(0, 0, frame.width(), frame.height())
      .united(plate_under(frame.width(), frame.height()))
      .adjusted(-3, -3, 3, 3);
}

QRectF tavri_dragging_image::plate() const {
  const QRectF frame = map_.record(list_index_).value(kIconKey).value<MapIcon>().frame;
  return plate_under(frame.width(), frame.height());
}

void tavri_dragging_image::setIs_selected(bool selected) {
  is_selected_ = selected;
  update();
}

void tavri_dragging_image::paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) {
  const Record r = map_.record(list_index_);
  const MapIcon icon = r.value(kIconKey).value<MapIcon>();
  const double w = icon.frame.width(), h = icon.frame.height();
  const StateLook look = state_look(r);
  p->setRenderHint(QPainter::Antialiasing);
  p->drawImage(QRectF(0, 0, w, h), picture_of(icon.image));
  p->setBrush(Qt::NoBrush);
  p->setPen(QPen(look.frame, 4.0, players::is_online(r) ? Qt::SolidLine : Qt::DashLine));
  p->drawRect(QRectF(0, 0, w, h));
  if (is_selected_) {
    p->setPen(QPen(QColor(0, 122, 255), 3.0));
    p->drawRect(QRectF(-3, -3, w + 6, h + 6));
  }
  const QRectF plate = plate_under(w, h);
  p->setPen(Qt::NoPen);
  p->setBrush(QColor(30, 30, 30, 220));
  p->drawRoundedRect(plate, 3, 3);
  // Zoomed out, the name alone, in letters that stay readable on screen;
  // when not even that fits, the tooltip has it.
  const double scale = std::min(1.0, static_cast<double>(map_.scale()));
  const bool whole = scale >= 0.8;
  p->setFont(tavri_defaults::font(tavri_defaults::fontname_bold(), whole ? 9 : 9 / std::max(0.3, scale)));
  const struct {
    QString text;
    QColor colour;
  } labels[] = {{icon.name, tavri_defaults::color_tavri_green()},
                {look.word + "  " + r.value("id_playlist").toString(), look.frame},
                {r.value("id_track").toString(), tavri_defaults::color_tavri_text()}};
  const QFontMetricsF metrics(p->font());
  const double tw = plate.width() - 2 * kPlatePadding;
  if (!whole) {
    p->setPen(labels[0].colour);
    p->drawText(plate.adjusted(kPlatePadding, kPlatePadding, -kPlatePadding, -kPlatePadding), Qt::AlignCenter,
                fitted(icon.name, metrics, tw));
    return;
  }
  double y = plate.top() + kPlatePadding;
  for (const auto& label : labels) {
    p->setPen(label.colour);
    p->drawText(QRectF(plate.left() + kPlatePadding, y, tw, kPlateLineHeight), Qt::AlignCenter,
                fitted(label.text, metrics, tw));
    y += kPlateLineHeight;
  }
}

void tavri_dragging_image::mousePressEvent(QGraphicsSceneMouseEvent* event) {
  map_.icon_pressed(*this, map_.to_map(event->scenePos(), 0));
  event->accept();
}

void tavri_dragging_image::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
  map_.icon_dragged(*this, map_.to_map(event->scenePos(), 0));
}

void tavri_dragging_image::mouseReleaseEvent(QGraphicsSceneMouseEvent*) {}

MapWindow::MapWindow(UDP_Feedback& feedback, Bus& bus, Dialogs& dialogs, QWidget* parent)
    : ToolWindowWidget("Map_Window", "Map", parent), feedback_(feedback), bus_(bus), dialogs_(dialogs) {
  scene_ = new QGraphicsScene(this);
  view_ = new QGraphicsView(scene_, this);
  view_->setObjectName("Map_Scroll");
  view_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  view_->setBackgroundBrush(tavri_defaults::color_tavri_dark_gray());
  auto* layout = new QVBoxLayout(this);
  auto* tools = new QHBoxLayout;
  tools->addWidget(action_bar(this, {{"map_scale_up", "zoom in", [this] { map_scale_up(); }},
                                     {"map_scale_down", "zoom out", [this] { map_scale_down(); }},
                                     {"map_scale_100", "100 %", [this] { map_scale_100(); }},
                                     {"map_fit", "fit", [this] { map_fit(); }},
                                     {"load_map", "load map", [this] { load_map(); }}}),
                   1);
  zoom_ = new QLabel(this);
  zoom_->setObjectName("map_zoom");
  zoom_->setToolTip("The map's zoom level");
  zoom_->setText("100 %");
  zoom_->setStyleSheet(QString("color: %1; font-weight: bold; padding: 0 6px;").arg(tavri_defaults::color_tavri_green().name()));
  tools->addWidget(zoom_);
  layout->addLayout(tools);
  layout->addWidget(view_, 1);
  resize(800, 600);

  connect(&feedback_, &UDP_Feedback::reload_map_requested, this, [this] { reload_map(); });
  connect(&feedback_, &UDP_Feedback::icons_check_requested, this, &MapWindow::check_icons_map);
  connect(&feedback_, &UDP_Feedback::selection_highlight_requested, this, &MapWindow::change_selection);
  connect(view_->horizontalScrollBar(), &QScrollBar::valueChanged, this, &MapWindow::remember_state);
  connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this, &MapWindow::remember_state);
}

// The scene goes with the view, and its scroll bars move as it goes: by
// then this window is no longer whole enough to record anything.
MapWindow::~MapWindow() {
  view_->horizontalScrollBar()->disconnect(this);
  view_->verticalScrollBar()->disconnect(this);
}

Record MapWindow::record(int list_index) const {
  RecordList& devices = feedback_.ArrayController_DEVICES();
  return list_index < devices.size() ? devices.at(list_index) : Record();
}

QSizeF MapWindow::visible_size() const {
  const double s = scale();
  // A map never shown yet has no real viewport: its saved or default frame stands in.
  if (!isVisible()) {
    const QRectF frame = feedback_.map_state().frame;
    const QSizeF size = frame.isEmpty() ? QSizeF(this->size()) : frame.size();
    return QSizeF(size.width() / s, size.height() / s);
  }
  return QSizeF(view_->viewport()->width() / s, view_->viewport()->height() / s);
}

QPointF MapWindow::to_scene(const QRectF& f) const { return QPointF(f.x(), map_size_.height() - f.y() - f.height()); }

QPointF MapWindow::to_map(const QPointF& p, double height) const {
  return QPointF(p.x(), map_size_.height() - p.y() - height);
}

void MapWindow::open_map() {
  if (is_visible()) {
    close_window();
    return;
  }
  bring_to_front();
}

void MapWindow::load_map() {
  PanelOptions options = PanelOptions::files("Select your file", false);
  for (const QByteArray& format : QImageReader::supportedImageFormats()) options.extensions << QString(format);
  const auto chosen = dialogs_.open_panel(options);
  if (!chosen || chosen->isEmpty()) return;
  feedback_.map_state().background = png_of(QImage(chosen->first()));
  reload_map();  // the floor plan shows at once
}

void MapWindow::show_origin(QPointF origin) {
  // A hidden view has no real size: the origin is shown once the window is.
  if (!isVisible()) {
    pending_origin_ = origin;
    return;
  }
  pending_origin_.reset();
  // The saved origin is the visible area's bottom-left corner in map coordinates.
  const QSizeF visible(view_->viewport()->width() / scale(), view_->viewport()->height() / scale());
  const QPointF bottom_left_scene = to_scene(QRectF(origin, QSizeF(0, 0)));
  view_->centerOn(bottom_left_scene + QPointF(visible.width() / 2, -visible.height() / 2));
}

void MapWindow::reload_map() {
  rebuilding_ = true;
  const QImage background = picture_of(feedback_.map_state().background);
  RecordList& devices = feedback_.ArrayController_DEVICES();
  // Icon items are kept by list index and only added or removed at the end:
  // a burst of new players must not recreate every icon each time.
  while (icons_.size() > devices.size()) delete icons_.takeLast();
  map_size_ = player_map::rebuild(devices, background.size(), QSizeF(size()), visible_size());
  if (!background_) background_ = scene_->addPixmap({});
  background_->setPixmap(QPixmap::fromImage(background));
  background_->setPos(0, map_size_.height() - background.height());
  // Room below the map for the name plates of icons on its bottom edge.
  scene_->setSceneRect(0, 0, map_size_.width(), map_size_.height() + 4 + kPlateHeight);
  for (int i = 0; i < devices.size(); ++i) {
    if (i == icons_.size()) {
      icons_ << new tavri_dragging_image(*this, i);
      scene_->addItem(icons_.last());
    }
    tavri_dragging_image* icon = icons_[i];
    const MapIcon m = devices.at(i).value(kIconKey).value<MapIcon>();
    icon->setPos(to_scene(m.frame));
    icon->setToolTip(icon_tooltip(devices.at(i)));
    icon->update();
  }
  rebuilding_ = false;
  change_selection();
}

void MapWindow::check_icons_map() {
  RecordList& devices = feedback_.ArrayController_DEVICES();
  player_map::check_icons(devices);
  for (auto* icon : icons_) {
    if (icon->list_index() < devices.size()) icon->setToolTip(icon_tooltip(devices.at(icon->list_index())));
    icon->update();
  }
}

QString MapWindow::icon_tooltip(const Record& player) const {
  const QString name = player.value(kIconKey).value<MapIcon>().name;
  const QString now = now_playing_ ? now_playing_(player) : QString();
  // The whole name, which the plate may shorten, and the state in words.
  QString text = QString("%1 (%2): %3").arg(name, player.value("device_id").toString(), state_look(player).word);
  return now.isEmpty() ? text : text + "\n" + now;
}

void MapWindow::change_selection() {
  console_log("SELECTION CHANGE");
  const QList<int> selected = feedback_.ArrayController_DEVICES().selected_list_indices();
  for (auto* icon : icons_) icon->setIs_selected(selected.contains(icon->list_index()));
}

void MapWindow::icon_pressed(tavri_dragging_image& icon, QPointF map_pointer) {
  const Record r = record(icon.list_index());
  bus_.post(note::SELECT_BY_MAP, r.value("device_id").toString());
  drag_offset_ = map_pointer - r.value(kIconKey).value<MapIcon>().frame.topLeft();
}

void MapWindow::icon_dragged(tavri_dragging_image& icon, QPointF map_pointer) {
  RecordList& devices = feedback_.ArrayController_DEVICES();
  MapIcon m = devices.at(icon.list_index()).value(kIconKey).value<MapIcon>();
  const QPointF origin = player_map::drag_origin(map_pointer, drag_offset_, m.frame.size(),
                                                 QRectF(QPointF(0, 0), map_size_));
  m.frame.moveTopLeft(origin);  // "top left" of a QRectF is its origin: x, y
  devices.set_value(icon.list_index(), kIconKey, QVariant::fromValue(m));
  feedback_.mark_operator_player(devices.at(icon.list_index()).value("device_id").toString());
  icon.setPos(to_scene(m.frame));
}

void MapWindow::map_fit() {
  // The whole map in sight, never below the smallest zoom.
  const QSizeF view = view_->viewport()->size();
  const double fit = std::min(view.width() / std::max(1.0, map_size_.width()), view.height() / std::max(1.0, map_size_.height()));
  feedback_.map_state().scale = std::max(player_map::kMinScale, static_cast<float>(fit));
  setScale(feedback_.map_state().scale);
}

void MapWindow::setScale(double factor) {
  zoom_->setText(QString("%1 %").arg(std::lround(factor * 100)));
  const QPointF origin = view_->mapToScene(0, 0);
  view_->resetTransform();
  view_->scale(factor, factor);
  for (auto* icon : icons_) icon->update();
  view_->horizontalScrollBar()->setValue(static_cast<int>(origin.x() * factor));
  view_->verticalScrollBar()->setValue(static_cast<int>(origin.y() * factor));
}

void MapWindow::map_scale_up() {
  feedback_.map_state().scale = player_map::scale_up(feedback_.map_state().scale);
  setScale(feedback_.map_state().scale);
}

void MapWindow::map_scale_down() {
  feedback_.map_state().scale = player_map::scale_down(feedback_.map_state().scale);
  setScale(feedback_.map_state().scale);
}

void MapWindow::map_scale_100() {
  view_->resetTransform();
  zoom_->setText("100 %");
  feedback_.map_state().scale = 1.0f;
}

QPointF MapWindow::visible_origin() const {
  const QPointF bottom_left = view_->mapToScene(0, view_->viewport()->height());
  return to_map(bottom_left, 0);
}

void MapWindow::remember_state() {
  // A hidden window's view is not what the operator left: keep the saved state.
  if (!isVisible() || rebuilding_ || pending_origin_) return;
  feedback_.map_state().frame = frame();
  feedback_.map_state().origin = visible_origin();
}

void MapWindow::resizeEvent(QResizeEvent* event) {
  ToolWindowWidget::resizeEvent(event);
  remember_state();
  if (!rebuilding_) QTimer::singleShot(0, this, [this] { reload_map(); });
}

void MapWindow::showEvent(QShowEvent* event) {
  ToolWindowWidget::showEvent(event);
  // Shown again: where the operator left the map, once the layout has settled.
  if (!pending_origin_) pending_origin_ = feedback_.map_state().origin;
  QTimer::singleShot(0, this, [this] {
    if (!pending_origin_) return;
    show_origin(*pending_origin_);
    remember_state();
  });
}

void MapWindow::moveEvent(QMoveEvent* event) {
  ToolWindowWidget::moveEvent(event);
  remember_state();
}

}  // namespace tavri
