#pragma once
#include <QStringList>

#include "core/tool_window.h"

namespace tavri::test {

class FakeWindow : public ToolWindow {
 public:
  explicit FakeWindow(QStringList* journal = nullptr, QString name = {}) : journal_(journal), name_(name) {}
  QRectF frame() const override { return frame_; }
  void set_frame(const QRectF& f) override {
    frame_ = f;
    if (journal_) *journal_ << "frame " + name_;
  }
  bool is_visible() const override { return visible_; }
  void close_window() override { visible_ = false; }
  void bring_to_front() override { visible_ = true; }

  QRectF frame_;
  bool visible_ = true;

 private:
  QStringList* journal_;
  QString name_;
};

}  // namespace tavri::test
