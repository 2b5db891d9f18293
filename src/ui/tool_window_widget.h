#pragma once
#include <QWidget>

#include "core/tool_window.h"

namespace tavri {

// A tool window; frames are converted between Qt's top-left screen origin
// and the saved bottom-left convention.
class ToolWindowWidget : public QWidget, public ToolWindow {
  Q_OBJECT
 public:
  ToolWindowWidget(const QString& object_name, const QString& title, QWidget* parent = nullptr);

  QRectF frame() const override;
  void set_frame(const QRectF& frame) override;
  bool is_visible() const override { return isVisible(); }
  void close_window() override { hide(); }
  void bring_to_front() override;
};

// The rectangle (top-left origin) moved, and shrunk where needed, into the
// available area of the screen it is on, or of the primary screen.
QRect on_visible_screen(QRect wanted);

}  // namespace tavri
