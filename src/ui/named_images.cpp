#include "named_images.h"

#include <QBuffer>

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <mutex>

namespace tavri {
namespace {

const QColor kArtGreen(209, 227, 23);
const QColor kArtLight(125, 125, 125);
const QColor kArtDark(50, 50, 50);
const QColor kArtOrange(204, 128, 0);
const QColor kArtRed(179, 0, 0);

void speaker(QPainter& p) {
  p.setBrush(kArtGreen);
  p.drawPolygon(QPolygonF({QPointF(8, 24), QPointF(20, 24), QPointF(34, 10), QPointF(34, 54), QPointF(20, 40),
                           QPointF(8, 40)}));
  p.setBrush(Qt::NoBrush);
}

// A player screen: a rounded monitor with a stand, its face in the state colour.
void screen(QPainter& p, const QColor& face, const QColor& frame) {
  p.setPen(QPen(frame, 3));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(4, 6, 56, 38), 4, 4);
  p.setBrush(frame);
  p.drawRect(QRectF(28, 44, 8, 8));
  p.drawRoundedRect(QRectF(18, 52, 28, 5), 2, 2);
}

QImage draw(const QString& name) {
  QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kArtGreen, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  if (name.startsWith("tavri_icon_fragezeichen")) {
    p.drawEllipse(QRectF(6, 6, 52, 52));
    QPainterPath q;
    q.moveTo(24, 24);
    q.cubicTo(24, 12, 42, 12, 42, 24);
    q.cubicTo(42, 32, 32, 32, 32, 40);
    p.drawPath(q);
    p.setBrush(kArtGreen);
    p.drawEllipse(QRectF(30, 46, 4, 4));
  } else if (name == "tavri_icon_file") {
    p.drawPolygon(QPolygonF({QPointF(14, 6), QPointF(40, 6), QPointF(52, 18), QPointF(52, 58), QPointF(14, 58)}));
    p.drawPolyline(QPolygonF({QPointF(40, 6), QPointF(40, 18), QPointF(52, 18)}));
  } else if (name == "tavri_icon_send" || name == "Icon_send") {
    p.setBrush(kArtGreen);
    p.drawEllipse(QRectF(10, 46, 8, 8));
    p.setBrush(Qt::NoBrush);
    for (int r : {18, 30, 42}) p.drawArc(QRectF(14 - r, 50 - r, 2 * r, 2 * r), 0, 90 * 16);
  } else if (name == "Icon_play") {
    p.setBrush(kArtGreen);
    p.drawPolygon(QPolygonF({QPointF(18, 10), QPointF(54, 32), QPointF(18, 54)}));
  } else if (name == "Icon_pause") {
    p.setBrush(kArtGreen);
    p.drawRect(QRectF(16, 10, 10, 44));
    p.drawRect(QRectF(38, 10, 10, 44));
  } else if (name == "tavri_icon_attention") {
    p.setPen(QPen(kArtOrange, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolygon(QPolygonF({QPointF(32, 6), QPointF(60, 56), QPointF(4, 56)}));
    p.drawLine(QPointF(32, 22), QPointF(32, 40));
    p.drawPoint(QPointF(32, 48));
  } else if (name == "icon_menue" || name == "icon_menue_leer") {
    p.drawRoundedRect(QRectF(6, 8, 52, 48), 4, 4);
    if (name == "icon_menue")
      for (int y : {22, 32, 42}) p.drawLine(QPointF(16, y), QPointF(48, y));
  } else if (name == "tavri_mute") {
    speaker(p);
    p.setPen(QPen(kArtRed, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(42, 22), QPointF(58, 42));
    p.drawLine(QPointF(58, 22), QPointF(42, 42));
  } else if (name == "tavri_sound_on") {
    speaker(p);
    for (int r : {8, 16}) p.drawArc(QRectF(34 - r, 32 - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
  } else if (name == "ICON_ONLINE") {
    screen(p, kArtGreen, kArtDark);
  } else if (name == "ICON_OFFLINE") {
    screen(p, kArtLight, kArtRed);
  } else {
    return {};
  }
  return image;
}

}  // namespace

QImage named_image(const QString& name) {
  static std::mutex mutex;
  static QHash<QString, QImage> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.insert(name, draw(name));
  return *it;
}

QImage picture_of(const PngImage& image) {
  if (image.isNull()) return {};
  static std::mutex mutex;
  static QHash<QByteArray, QImage> decoded;
  std::lock_guard lock(mutex);
  if (auto it = decoded.constFind(image.png); it != decoded.constEnd()) return *it;
  if (decoded.size() > 4096) decoded.clear();  // thumbnails of a large folder: decoded again on demand
  return *decoded.insert(image.png, QImage::fromData(image.png, "PNG"));
}

QImage picture_of(const QVariant& value) {
  const PngImage* image = picture_in(value);
  return image ? picture_of(*image) : QImage();
}

PngImage png_of(const QImage& image) {
  if (image.isNull()) return {};
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return {png};
}

}  // namespace tavri
