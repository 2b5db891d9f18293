#pragma once
#include <QLineEdit>

namespace tavri {

// An editable field on a light grey rounded frame, black text.
class tavri_textfield : public QLineEdit {
  Q_OBJECT
 public:
  explicit tavri_textfield(QWidget* parent = nullptr);
  // The frame: the bounds moved 2 right and 2 down, 3 smaller each way.
  static QRectF frame_rect(const QRectF& bounds) { return QRectF(bounds.x() + 2, bounds.y() + 2, bounds.width() - 3, bounds.height() - 3); }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tavri
