#pragma once
#include <QWidget>

#include "core/tool_window.h"

namespace tavri {

// A tool window; frames are converted between Qt's top-left screen origin
// and the saved bottom-left convention. Placed in a dock of the main
// window, it shows, hides and places the dock: a docked pane's frame is
// where it is on the screen, and only a floating one can be placed.
class ToolWindowWidget : public QWidget, public ToolWindow {
  Q_OBJECT
 public:
  ToolWindowWidget(const QString& object_name, const QString& title, QWidget* parent = nullptr);

  QRectF frame() const override;
  void set_frame(const QRectF& frame) override;
  // Hidden behind another tab counts as not visible: the toggle brings it forward.
  bool is_visible() const override { return host()->isVisible() && isVisible() && (!docked() || in_front_); }
  void close_window() override { host()->hide(); }
  void bring_to_front() override;
  // The dock tells when its tab is chosen or left.
  void set_in_front(bool in_front) { in_front_ = in_front; }

 private:
  bool in_front_ = true;
  QWidget* host() const;
  bool docked() const;
};

// The rectangle (top-left origin) moved, and shrunk where needed, into the
// available area of the screen it is on, or of the primary screen.
QRect on_visible_screen(QRect wanted);

}  // namespace tavri
