#pragma once
#include <QImage>
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

// A player's icon on the map as it is saved: frame, name and optional image.
struct MapIcon {
  QRectF frame;
  QString name;
  QImage image;
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

Q_DECLARE_METATYPE(tavri::MapIcon)
