#pragma once
#include <QByteArray>
#include <QMetaType>
#include <QRectF>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

namespace tavri {

// A string-keyed record: strings, numbers, dates, URLs, images, byte blobs,
// rectangles, points, lists and nested records.
using Record = QVariantMap;
using RecordArray = QList<Record>;

// A picture as records hold and archives save it: PNG bytes. Only the
// window decodes and draws them; the service passes them on as they are.
struct PngImage {
  QByteArray png;
  bool isNull() const { return png.isEmpty(); }
  bool operator==(const PngImage& o) const {
    return (png.constData() == o.png.constData() && png.size() == o.png.size()) || png == o.png;
  }
};

// True when the bytes start as a PNG file does.
inline bool looks_like_png(const QByteArray& bytes) { return bytes.startsWith("\x89PNG\r\n\x1a\n"); }

// A player's icon on the map as it is saved: frame, name and optional image.
struct MapIcon {
  QRectF frame;
  QString name;
  PngImage image;
  bool operator==(const MapIcon& o) const {
    return frame == o.frame && name == o.name && image == o.image;
  }
};

// A task flag ("daily", "cut", "active") as the task table shows it: set
// when it reads as 1, whether stored as a number, a boolean or text.
inline bool flag_is_set(const QVariant& value) { return value.toInt() == 1; }

QVariantList to_variant_list(const RecordArray& records);
RecordArray to_record_array(const QVariantList& list);

}  // namespace tavri

Q_DECLARE_METATYPE(tavri::PngImage)
Q_DECLARE_METATYPE(tavri::MapIcon)

namespace tavri {

// What a record's value is a picture of, or nullptr.
inline const PngImage* picture_in(const QVariant& v) {
  return v.metaType() == QMetaType::fromType<PngImage>() ? static_cast<const PngImage*>(v.constData()) : nullptr;
}
inline bool is_picture(const QVariant& v) { return v.metaType() == QMetaType::fromType<PngImage>(); }

}  // namespace tavri
