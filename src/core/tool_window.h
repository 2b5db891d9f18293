#pragma once
#include <QRectF>

namespace tavri {

// What the core needs of a window: its frame (origin at the bottom left of
// the screen, as saved), its visibility and the toggle actions.
class ToolWindow {
 public:
  virtual ~ToolWindow() = default;
  virtual QRectF frame() const = 0;
  virtual void set_frame(const QRectF& frame) = 0;
  virtual bool is_visible() const = 0;
  virtual void close_window() = 0;
  virtual void bring_to_front() = 0;
};

}  // namespace tavri
