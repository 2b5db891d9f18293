#include "fixture_match.h"

#include <QDateTime>
#include <QPointF>
#include <QRectF>
#include <QUrl>
#include <cmath>

#include "core/keyed_archive.h"

namespace tavri::test {
namespace {
bool fail(QString* why, const QString& path, const QString& text) {
  if (why) *why = path + ": " + text;
  return false;
}
int type_of(const QVariant& v) { return v.metaType().id(); }
}  // namespace

bool matches_json(const QVariant& a, const QJsonValue& e, QString* why, const QString& path) {
  if (e.isBool())
    return type_of(a) == QMetaType::Bool && a.toBool() == e.toBool() ? true
                                                                        : fail(why, path, "expected bool");
  if (e.isDouble()) {
    const bool integer = type_of(a) == QMetaType::LongLong || type_of(a) == QMetaType::Int;
    return integer && a.toLongLong() == e.toInteger() ? true : fail(why, path, "expected integer " + QString::number(e.toInteger()) + " got " + a.toString());
  }
  if (e.isString())
    return type_of(a) == QMetaType::QString && a.toString() == e.toString()
               ? true
               : fail(why, path, "expected string " + e.toString() + " got " + a.toString());
  if (e.isArray()) {
    const QJsonArray arr = e.toArray();
    if (type_of(a) != QMetaType::QVariantList) return fail(why, path, "expected list");
    const QVariantList list = a.toList();
    if (list.size() != arr.size()) return fail(why, path, "list length differs");
    for (int i = 0; i < arr.size(); ++i)
      if (!matches_json(list[i], arr[i], why, path + "[" + QString::number(i) + "]")) return false;
    return true;
  }
  if (!e.isObject()) return fail(why, path, "unexpected JSON");
  const QJsonObject o = e.toObject();
  if (o.contains("$real"))
    return type_of(a) == QMetaType::Double && a.toDouble() == o["$real"].toDouble()
               ? true
               : fail(why, path, "expected real");
  if (o.contains("$url"))
    return type_of(a) == QMetaType::QUrl && a.toUrl().toString(QUrl::FullyEncoded) == o["$url"].toString()
               ? true
               : fail(why, path, "expected url " + o["$url"].toString());
  if (o.contains("$date")) {
    if (type_of(a) != QMetaType::QDateTime) return fail(why, path, "expected date");
    const double t = a.toDateTime().toMSecsSinceEpoch() / 1000.0 - 978307200.0;
    return std::abs(t - o["$date"].toDouble()) < 0.001 ? true : fail(why, path, "date differs");
  }
  if (o.contains("$data"))
    return type_of(a) == QMetaType::QByteArray &&
                   a.toByteArray() == QByteArray::fromBase64(o["$data"].toString().toLatin1())
               ? true
               : fail(why, path, "data differs");
  if (o.contains("$rect")) {
    const QJsonArray r = o["$rect"].toArray();
    return type_of(a) == QMetaType::QRectF &&
                   a.toRectF() == QRectF(r[0].toDouble(), r[1].toDouble(), r[2].toDouble(), r[3].toDouble())
               ? true
               : fail(why, path, "rect differs");
  }
  if (o.contains("$point")) {
    const QJsonArray p = o["$point"].toArray();
    return type_of(a) == QMetaType::QPointF && a.toPointF() == QPointF(p[0].toDouble(), p[1].toDouble())
               ? true
               : fail(why, path, "point differs");
  }
  if (o.contains("$archive")) {
    if (type_of(a) != QMetaType::QByteArray) return fail(why, path, "expected archive bytes");
    QString error;
    const auto root = decode_root_archive(a.toByteArray(), &error);
    if (!root) return fail(why, path, "nested archive: " + error);
    return matches_json(*root, o["$archive"], why, path + "/archive");
  }
  if (type_of(a) != QMetaType::QVariantMap) return fail(why, path, "expected record");
  const QVariantMap map = a.toMap();
  if (map.size() != o.size()) return fail(why, path, "record keys differ");
  for (auto it = o.begin(); it != o.end(); ++it) {
    if (!map.contains(it.key())) return fail(why, path, "missing key " + it.key());
    if (!matches_json(map.value(it.key()), it.value(), why, path + "." + it.key())) return false;
  }
  return true;
}

}  // namespace tavri::test
