#pragma once
#include <QBuffer>
#include <QColor>
#include <QImage>

#include "core/record.h"

namespace tavri::test {

// A picture as records hold it.
inline PngImage png_of(const QImage& image) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return {png};
}

inline PngImage filled_png(int width, int height, QColor colour) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(colour);
  return png_of(image);
}

// What a record's picture shows.
inline QImage decoded(const QVariant& value) {
  const PngImage* image = picture_in(value);
  return image ? QImage::fromData(image->png, "PNG") : QImage();
}

}  // namespace tavri::test
