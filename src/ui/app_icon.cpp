#include "app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace tavri {
namespace {

// On a 512 x 512 canvas.
constexpr QRectF kGround(16, 16, 480, 480);
constexpr double kGroundRadius = 96;
constexpr QRectF kScreen(72, 104, 368, 240);
constexpr double kScreenRadius = 20;
constexpr QRectF kNeck(232, 344, 48, 56);
constexpr QRectF kFoot(152, 396, 208, 36);
const QPolygonF kPlay{QPointF(212, 160), QPointF(212, 288), QPointF(320, 224)};
constexpr char kDark[] = "#323232", kGreen[] = "#d1e317", kShade[] = "#4b4b4b";

}  // namespace

QImage app_icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 512.0, size / 512.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(kDark));
  p.drawRoundedRect(kGround, kGroundRadius, kGroundRadius);
  p.setBrush(QColor(kShade));
  p.drawRect(kNeck);
  p.drawRoundedRect(kFoot, 12, 12);
  p.setBrush(QColor(kGreen));
  p.drawRoundedRect(kScreen, kScreenRadius, kScreenRadius);
  p.setBrush(QColor(kDark));
  p.drawPolygon(kPlay);
  return image;
}

QByteArray app_icon_svg() {
  auto rect = [](const QRectF& r, double radius, const char* fill) {
    return QString("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" fill=\"%6\"/>\n")
        .arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).arg(radius).arg(fill);
  };
  QString points;
  for (const QPointF& pt : kPlay) points += QString("%1,%2 ").arg(pt.x()).arg(pt.y());
  QString svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"512\" height=\"512\" viewBox=\"0 0 512 512\">\n";
  svg += rect(kGround, kGroundRadius, kDark);
  svg += rect(kNeck, 0, kShade);
  svg += rect(kFoot, 12, kShade);
  svg += rect(kScreen, kScreenRadius, kGreen);
  svg += QString("  <polygon points=\"%1\" fill=\"%2\"/>\n").arg(points.trimmed(), kDark);
  svg += "</svg>\n";
  return svg.toUtf8();
}

}  // namespace tavri
