#include "core/local_day.h"

#include <atomic>

namespace tavri {

namespace {
std::atomic<qint64> fixed_day{0};  // a Julian day; 0: the clock's
}

QDate local_today() {
  const qint64 fixed = fixed_day.load();
  return fixed ? QDate::fromJulianDay(fixed) : QDate::currentDate();
}

void fix_local_today(QDate day) { fixed_day = day.isValid() ? day.toJulianDay() : 0; }

}  // namespace tavri
