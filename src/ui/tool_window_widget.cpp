#include "tool_window_widget.h"

#include <QGuiApplication>
#include <QScreen>

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

QRectF ToolWindowWidget::frame() const {
  const QRect g = frameGeometry();
  return QRectF(g.x(), screen_height() - g.y() - g.height(), g.width(), g.height());
}

void ToolWindowWidget::set_frame(const QRectF& f) {
  const int top = static_cast<int>(screen_height() - f.y() - f.height());
  move(static_cast<int>(f.x()), top);
  resize(static_cast<int>(f.width()), static_cast<int>(f.height()));
  update();
}

void ToolWindowWidget::bring_to_front() {
  show();
  raise();
  activateWindow();
}

}  // namespace tavri
