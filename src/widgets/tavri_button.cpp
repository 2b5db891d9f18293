#include "tavri_button.h"

#include <QPainter>

#include "tavri_defaults.h"

namespace tavri {

tavri_button::tavri_button(const QString& title, QWidget* parent, const QImage& image) : QPushButton(parent) {
  setFlat(true);
  setFont(tavri_defaults::font(tavri_defaults::fontname_normal(), tavri_defaults::float_button_height));
  setStyleSheet(tavri_defaults::button_style("QPushButton", "padding: 3px 8px; text-align: left;"));
  set_title(title);
  set_image(image);
}

void tavri_button::set_title(const QString& title) { setText(title.toUpper()); }

void tavri_button::set_image(const QImage& image) {
  source_ = image;
  redraw_image();
}

// The source drawn over the whole target at full opacity; no valid source,
// no image.
void tavri_button::redraw_image() {
  const QSize target = size() - QSize(8, 8);
  if (source_.isNull() || target.width() < 1 || target.height() < 1) {
    image_ = QImage();
    setIcon(QIcon());
    return;
  }
  image_ = QImage(target, QImage::Format_ARGB32_Premultiplied);
  image_.fill(Qt::transparent);
  QPainter p(&image_);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(QRect(QPoint(0, 0), target), source_);
  p.end();
  // Shown scaled proportionally down into the row, left of the title: a wide
  // button would otherwise show its picture squeezed into a line.
  const int side = std::max(1, std::min(target.height(), 24));
  setIcon(QIcon(QPixmap::fromImage(source_.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation))));
  setIconSize(QSize(side, side));
}

void tavri_button::resizeEvent(QResizeEvent* event) {
  QPushButton::resizeEvent(event);
  redraw_image();
}

}  // namespace tavri
