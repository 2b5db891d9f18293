#pragma once
#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <optional>

namespace tavri::avctl {

// A task as one argument: "name=Breakfast;time=07:00;end=10:30;
// days=mon-fri;playlist=3", with optional date, first, last, cut, active
// and daily. Days are names or ranges joined by "+" ("mon-wed+sat").
// The task as the API takes it, or nothing with `why` set.
std::optional<QJsonObject> parse_task(const QString& text, const QString& today, QString& why);
// A schedule's tasks as table rows, rules shown in words.
QList<QStringList> task_rows(const QJsonObject& schedule);

}  // namespace tavri::avctl
