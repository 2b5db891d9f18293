#pragma once
#include <QDate>
#include <QStringList>
#include <optional>

#include "core/outcome.h"
#include "core/record.h"

namespace tavri::dayparts {

// Our own keys beside a task's: the days of the week it plays on ("Mon Tue
// Wed Thu Fri"), its first and last date (yyyy-MM-dd) and the time it ends
// (HH:mm). A schedule's "fallback" is the playlist id that plays outside
// its dayparts (-1: none). Players never see these keys: the schedule file
// carries the dated tasks they compile into.
inline constexpr char kDays[] = "days";
inline constexpr char kFirstDate[] = "first_date";
inline constexpr char kLastDate[] = "last_date";
inline constexpr char kEndTime[] = "end_time";
inline constexpr char kFallback[] = "fallback";

// The canonical text of a set of day names ("mon", "Tuesday", "sun"; case
// and order do not matter), or nothing when a name is not a day or none
// is given.
std::optional<QString> read_days(const QStringList& names);
QStringList day_names(const QString& days);  // "Mon", "Tue"… in week order

bool is_rule_key(const QString& key);
bool task_has_rules(const Record& task);
int fallback_of(const Record& schedule);
// Whether the schedule publishes compiled tasks rather than its own.
bool has_rules(const Record& schedule);
// Whether a task with rules plays on `day`: its day of the week, within
// its dates (its own "date" and "daily" no longer count).
bool plays_on(const Record& task, const QDate& day);
// Why a task's rules cannot be kept, naming `field`; done when they fit.
Outcome check_rules(const Record& task, const QString& field);

// The tasks the players get for `tasks` from `today` on: plain tasks as
// they are, an active rule task as one dated task for each matching day of
// the horizon, each end time as a task of the fallback at that time (the
// next day when it is not after the start), and with a fallback a task of
// it at the horizon's first midnight. In task order, with the task keys only.
RecordArray compile(const RecordArray& tasks, int fallback, QDate today, int horizon_days);

// The days compiled ahead, from the configuration (28 unless set; 1 to 366).
int horizon_days();
void set_horizon_days(int days);
inline constexpr int kMostHorizonDays = 366;
// The most dated tasks one schedule may compile into: its file stays small
// enough for a player to fetch.
inline constexpr int kMostCompiledTasks = 5000;

}  // namespace tavri::dayparts
