#include "schedules/dayparts.h"

#include <QTime>
#include <algorithm>
#include <atomic>
#include <numeric>

#include "core/movielist.h"

namespace tavri::dayparts {

namespace {

constexpr const char* kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
std::atomic<int> horizon{28};

// Bit 0 is Monday; 0 for text that names no day.
int day_mask(const QString& days) {
  int mask = 0;
  for (const QString& name : days.split(' ', Qt::SkipEmptyParts))
    for (int d = 0; d < 7; ++d)
      if (name == kDayNames[d]) mask |= 1 << d;
  return mask;
}

bool is_date(const QString& text) { return QDate::fromString(text, "yyyy-MM-dd").isValid(); }
bool is_time(const QString& text) { return text.size() == 5 && QTime::fromString(text, "HH:mm").isValid(); }

Record dated(const Record& task, const QString& name, const QDate& day, const QString& time, int list) {
  Record out;
  out["name"] = name;
  out["date"] = day.toString("yyyy-MM-dd");
  out["time"] = time;
  out["daily"] = 0;
  out["cut"] = task.value("cut", 0);
  out["active"] = 1;
  out["list"] = list;
  return out;
}

}  // namespace

std::optional<QString> read_days(const QStringList& names) {
  int mask = 0;
  static const QStringList kFull = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
  for (const QString& raw : names) {
    const QString name = raw.trimmed().toLower();
    int found = -1;
    for (int d = 0; d < 7; ++d)
      if (name == kFull[d] || name == kFull[d].left(3)) found = d;
    if (found < 0) return std::nullopt;
    mask |= 1 << found;
  }
  if (mask == 0) return std::nullopt;
  QStringList out;
  for (int d = 0; d < 7; ++d)
    if (mask & (1 << d)) out << kDayNames[d];
  return out.join(' ');
}

QStringList day_names(const QString& days) {
  QStringList out;
  const int mask = day_mask(days);
  for (int d = 0; d < 7; ++d)
    if (mask & (1 << d)) out << kDayNames[d];
  return out;
}

bool is_rule_key(const QString& key) {
  return key == kDays || key == kFirstDate || key == kLastDate || key == kEndTime;
}

bool task_has_rules(const Record& task) {
  for (const char* key : {kDays, kFirstDate, kLastDate, kEndTime})
    if (!task.value(key).toString().isEmpty()) return true;
  return false;
}

int fallback_of(const Record& schedule) {
  return schedule.contains(kFallback) ? read_integer(schedule.value(kFallback).toString()) : -1;
}

bool has_rules(const Record& schedule) {
  if (fallback_of(schedule) != -1) return true;
  const QVariantList tasks = schedule.value("tasklist").toList();
  return std::any_of(tasks.begin(), tasks.end(), [](const QVariant& t) { return task_has_rules(t.toMap()); });
}

bool plays_on(const Record& task, const QDate& day) {
  const QString days = task.value(kDays).toString();
  const int mask = days.isEmpty() ? 0x7f : day_mask(days);
  const QString date = day.toString("yyyy-MM-dd"), first = task.value(kFirstDate).toString(),
                last = task.value(kLastDate).toString();
  return (mask & (1 << (day.dayOfWeek() - 1))) && (first.isEmpty() || date >= first) && (last.isEmpty() || date <= last);
}

Outcome check_rules(const Record& task, const QString& field) {
  const QString days = task.value(kDays).toString(), first = task.value(kFirstDate).toString(),
                last = task.value(kLastDate).toString(), end = task.value(kEndTime).toString();
  if (!days.isEmpty() && read_days(days.split(' ')) != days)
    return Outcome::bad(field, QString("\"%1\" is not a set of days of the week.").arg(days));
  if (!first.isEmpty() && !is_date(first))
    return Outcome::bad(field, QString("\"%1\" is not a first date (yyyy-MM-dd).").arg(first));
  if (!last.isEmpty() && !is_date(last))
    return Outcome::bad(field, QString("\"%1\" is not a last date (yyyy-MM-dd).").arg(last));
  if (!first.isEmpty() && !last.isEmpty() && last < first)
    return Outcome::bad(field, QString("The last date %1 comes before the first date %2.").arg(last, first));
  if (!end.isEmpty() && !is_time(end))
    return Outcome::bad(field, QString("\"%1\" is not an end time (HH:mm).").arg(end));
  if (!end.isEmpty() && end == task.value("time").toString())
    return Outcome::bad(field, QString("The task starts and ends at %1.").arg(end));
  return Outcome::done();
}

RecordArray compile(const RecordArray& tasks, int fallback, QDate today, int horizon_days) {
  RecordArray out;
  if (fallback != -1) out.append(dated({}, "Fallback", today, "00:00", fallback));
  for (const Record& task : tasks) {
    if (!task_has_rules(task)) {
      out.append(task);
      continue;
    }
    if (!flag_is_set(task.value("active"))) continue;
    const QString name = task.value("name").toString(), time = task.value("time").toString();
    const QString end = task.value(kEndTime).toString();
    const int list = read_integer(task.value("list").toString());
    for (int i = 0; i < horizon_days; ++i) {
      const QDate day = today.addDays(i);
      if (!plays_on(task, day)) continue;
      out.append(dated(task, name, day, time, list));
      if (!end.isEmpty() && fallback != -1)
        out.append(dated(task, name + " - end", end > time ? day : day.addDays(1), end, fallback));
    }
  }
  // Task order: by date, then stably by time.
  std::vector<int> order(out.size());
  std::iota(order.begin(), order.end(), 0);
  auto key = [&](int i, const char* k) { return out[i].value(k).toString(); };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a, "date") < key(b, "date"); });
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a, "time") < key(b, "time"); });
  RecordArray sorted;
  sorted.reserve(out.size());
  for (int i : order) sorted.append(out[i]);
  return sorted;
}

int horizon_days() { return horizon.load(); }
void set_horizon_days(int days) { horizon = std::clamp(days, 1, kMostHorizonDays); }

}  // namespace tavri::dayparts
