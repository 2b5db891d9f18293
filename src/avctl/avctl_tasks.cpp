#include "avctl/avctl_tasks.h"

#include <QJsonArray>

namespace tavri::avctl {

namespace {

const QStringList kDays = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

// "mon-fri+sun" as the day names; nothing when one is not a day.
std::optional<QJsonArray> read_days(const QString& text) {
  QJsonArray out;
  for (const QString& part : text.toLower().split('+', Qt::SkipEmptyParts)) {
    const QStringList ends = part.split('-');
    const qsizetype from = kDays.indexOf(ends.first().left(3)), to = kDays.indexOf(ends.last().left(3));
    if (ends.size() > 2 || from < 0 || to < 0 || to < from) return std::nullopt;
    for (qsizetype d = from; d <= to; ++d) out.append(kDays[d]);
  }
  if (out.isEmpty()) return std::nullopt;
  return out;
}

}  // namespace

std::optional<QJsonObject> parse_task(const QString& text, const QString& today, QString& why) {
  QJsonObject task{{"date", today}, {"time", "00:00"}};
  static const QStringList kText = {"name", "date", "time"};
  static const QStringList kFlags = {"cut", "active", "daily"};
  static const QHash<QString, QString> kRules = {{"first", "first_date"}, {"last", "last_date"}, {"end", "end_time"}};
  for (const QString& field : text.split(';', Qt::SkipEmptyParts)) {
    const qsizetype eq = field.indexOf('=');
    const QString key = field.left(eq).trimmed(), value = eq < 0 ? QString() : field.mid(eq + 1).trimmed();
    if (eq < 0) {
      why = QString("\"%1\" is not KEY=VALUE").arg(field);
      return std::nullopt;
    }
    if (kText.contains(key)) {
      task[key] = value;
    } else if (kRules.contains(key)) {
      task[kRules[key]] = value;
    } else if (kFlags.contains(key)) {
      if (value != "yes" && value != "no") {
        why = QString("%1 is yes or no").arg(key);
        return std::nullopt;
      }
      task[key] = value == "yes";
    } else if (key == "playlist") {
      bool number = false;
      task[key] = value.toInt(&number);
      if (!number) {
        why = "playlist is a playlist's id";
        return std::nullopt;
      }
    } else if (key == "days") {
      const auto days = read_days(value);
      if (!days) {
        why = QString("\"%1\" is not days such as mon-fri or sat+sun").arg(value);
        return std::nullopt;
      }
      task[key] = *days;
    } else {
      why = QString("a task has no \"%1\" (name, time, playlist, date, days, first, last, end, cut, active, daily)").arg(key);
      return std::nullopt;
    }
  }
  if (!task.contains("name") || !task.contains("playlist")) {
    why = "a task needs at least name= and playlist=";
    return std::nullopt;
  }
  return task;
}

QList<QStringList> task_rows(const QJsonObject& schedule) {
  QList<QStringList> rows{{"#", "NAME", "WHEN", "PLAYLIST", "RULES"}};
  int n = 0;
  for (const QJsonValue& v : schedule["tasklist"].toArray()) {
    const QJsonObject t = v.toObject();
    const bool ruled = t.contains("days") || t.contains("first_date") || t.contains("last_date") || t.contains("end_time");
    QStringList rules;
    if (t.contains("days")) rules << t["days"].toString();
    if (t.contains("first_date")) rules << "from " + t["first_date"].toString();
    if (t.contains("last_date")) rules << "until " + t["last_date"].toString();
    if (t.contains("end_time")) rules << "ends " + t["end_time"].toString();
    if (!ruled) rules << (t["daily"].toInt() ? "daily" : "once");
    if (!t["active"].toInt()) rules << "inactive";
    const QString when = ruled ? t["time"].toString() : t["date"].toString() + " " + t["time"].toString();
    rows << QStringList{QString::number(++n), t["name"].toString(), when, QString::number(t["list"].toInt()),
                        rules.join(", ")};
  }
  return rows;
}

}  // namespace tavri::avctl
