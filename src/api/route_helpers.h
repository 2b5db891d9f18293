#pragma once
// What the API's routes share: paths, bodies and records as JSON.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <optional>

#include "api/api_routes.h"
#include "core/record.h"

namespace tavri::routes {

inline QString text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The request path's parts after "/api/", each percent-decoded.
inline QStringList path_parts(const std::string& path) {
  QStringList parts;
  for (const QString& part : text(path).mid(5).split('/', Qt::SkipEmptyParts))
    parts << QUrl::fromPercentEncoding(part.toUtf8());
  return parts;
}

// A record's keys but its pictures, which have routes of their own.
inline QJsonObject item_json(const Record& r) {
  QJsonObject item;
  for (auto it = r.constBegin(); it != r.constEnd(); ++it)
    if (!is_picture(it.value()) && it.value().metaType().id() != QMetaType::QByteArray)
      item.insert(it.key(), QJsonValue::fromVariant(it.value()));
  // Lengths are kept as text for some items and as numbers for others (the
  // players read both); the API gives one type: seconds, as a number.
  if (const QJsonValue length = item.value("file_length"); length.isString()) {
    bool ok = false;
    const double seconds = length.toString().trimmed().toDouble(&ok);
    item.insert("file_length", ok ? QJsonValue(seconds) : QJsonValue());
  }
  return item;
}

inline std::optional<QJsonObject> body_object(const api::Request& request, api::Response& error) {
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parse);
  if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
    error = ApiRoutes::error(400, parse.error != QJsonParseError::NoError
                                      ? QString("the body is not JSON: %1 at byte %2").arg(parse.errorString()).arg(parse.offset)
                                      : QString("the body must be a JSON object"));
    return std::nullopt;
  }
  return doc.object();
}

// The list a body holds under `field`: {"items": [...]}.
inline std::optional<QJsonArray> body_list(const api::Request& request, const QString& field, api::Response& error) {
  const auto body = body_object(request, error);
  if (!body) return std::nullopt;
  if (!body->value(field).isArray()) {
    error = ApiRoutes::error(400, QString("\"%1\" must be a list").arg(field), field);
    return std::nullopt;
  }
  return body->value(field).toArray();
}

}  // namespace tavri::routes
