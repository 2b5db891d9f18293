#include "tavri_textfield.h"

#include <QPainter>

#include "tavri_defaults.h"

namespace tavri {

tavri_textfield::tavri_textfield(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);
  setFont(tavri_defaults::font(tavri_defaults::fontname_normal(), 14));
  setStyleSheet("QLineEdit { background: transparent; color: black; padding-left: 5px; }");
}

void tavri_textfield::paintEvent(QPaintEvent* event) {
  {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(tavri_defaults::color_tavri_light_gray());
    p.drawRoundedRect(frame_rect(QRectF(rect())), 5, 5);
  }
  QLineEdit::paintEvent(event);
}

}  // namespace tavri
