#pragma once
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

namespace tavri {

// Keyed archives in the binary property-list layout that the players'
// unarchiver reads. Top-level keys map to values; QRectF and QPointF are
// stored inline as "{{x, y}, {w, h}}" / "{x, y}", and a top-level float as
// an inline real.
QByteArray encode_archive(const QVariantMap& top);
// An archive with one root object under "root" (published and export files,
// "movielist" blobs).
QByteArray encode_root_archive(const QVariant& root);

// Reads untrusted bytes: any damage yields nothing and a reason in *error.
// Without decode_images every image comes back as a null image (for readers
// that replace the pictures anyway).
std::optional<QVariantMap> decode_archive(const QByteArray& bytes, QString* error = nullptr,
                                          bool decode_images = true);
std::optional<QVariant> decode_root_archive(const QByteArray& bytes, QString* error = nullptr,
                                            bool decode_images = true);

// Inline geometry texts, shortest decimal form.
QString rect_to_string(const QRectF& r);
QString point_to_string(const QPointF& p);
std::optional<QRectF> rect_from_string(const QString& s);
std::optional<QPointF> point_from_string(const QString& s);

}  // namespace tavri
