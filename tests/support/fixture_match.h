#pragma once
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>

namespace tavri::test {

// Compares a decoded value with the fixtures' JSON conventions
// ({"$real"}, {"$url"}, {"$date"}, {"$data"}, {"$rect"}, {"$point"},
// {"$archive"}); on mismatch *why names the path.
bool matches_json(const QVariant& actual, const QJsonValue& expected, QString* why,
                  const QString& path = "$");

}  // namespace tavri::test
