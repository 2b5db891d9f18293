#include "tool_window_widget.h"

#include <QAbstractItemView>
#include <QDockWidget>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace tavri {
namespace {
double screen_height() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().height() : 0.0;
}
}  // namespace

ToolWindowWidget::ToolWindowWidget(const QString& object_name, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window) {
  setObjectName(object_name);
  setWindowTitle(title);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(50, 50, 50));
  setPalette(p);
  resize(480, 360);
}

// The origin is the outer frame's (what move() places), the size the
// window's own (what resize() sets), so a frame restored and saved again
// is the same and windows do not grow by their title bar at each start.
QWidget* ToolWindowWidget::host() const {
  auto* dock = qobject_cast<QDockWidget*>(parentWidget());
  return dock ? static_cast<QWidget*>(dock) : const_cast<ToolWindowWidget*>(this);
}

bool ToolWindowWidget::docked() const {
  auto* dock = qobject_cast<QDockWidget*>(parentWidget());
  return dock && !dock->isFloating();
}

QRectF ToolWindowWidget::frame() const {
  const QWidget* w = host();
  const QPoint origin = docked() ? w->mapToGlobal(QPoint(0, 0)) : w->frameGeometry().topLeft();
  const QSize size = w->geometry().size();
  return QRectF(origin.x(), screen_height() - origin.y() - size.height(), size.width(), size.height());
}

QRect on_visible_screen(QRect wanted) {
  const QScreen* screen = QGuiApplication::screenAt(wanted.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return wanted;
  const QRect area = screen->availableGeometry();
  wanted.setSize(wanted.size().boundedTo(area.size()));
  wanted.moveLeft(std::clamp(wanted.left(), area.left(), area.right() + 1 - wanted.width()));
  wanted.moveTop(std::clamp(wanted.top(), area.top(), area.bottom() + 1 - wanted.height()));
  return wanted;
}

void ToolWindowWidget::set_frame(const QRectF& f) {
  if (docked()) return;  // the main window's saved arrangement places it
  const int top = static_cast<int>(screen_height() - f.y() - f.height());
  // A frame saved on another screen layout must not leave the window out of reach.
  const QRect placed = on_visible_screen(QRect(static_cast<int>(f.x()), top, static_cast<int>(f.width()),
                                               static_cast<int>(f.height())));
  host()->move(placed.topLeft());
  host()->resize(placed.size());
  update();
}

void ToolWindowWidget::bring_to_front() {
  QWidget* w = host();
  w->show();
  w->raise();  // a tabbed dock comes to the front of its tabs
  if (w != this) show();
  w->activateWindow();
  // The keys go where the operator asked to look: its first table, as
  // read from the top left (the catalogue before its items), if it has one.
  QAbstractItemView* first = nullptr;
  QPoint first_at;
  for (auto* table : findChildren<QAbstractItemView*>()) {
    if (!table->isVisibleTo(this)) continue;
    const QPoint at = table->mapTo(this, QPoint(0, 0));
    if (!first || at.x() < first_at.x() || (at.x() == first_at.x() && at.y() < first_at.y())) {
      first = table;
      first_at = at;
    }
  }
  if (first) first->setFocus(Qt::ShortcutFocusReason);
  else setFocus(Qt::ShortcutFocusReason);
}

}  // namespace tavri
