#pragma once
#include <QDate>

namespace tavri {

// Today's local date, as every dated rule reads it. Tests fix it; zero
// days gives the clock back. Safe from any thread.
QDate local_today();
void fix_local_today(QDate day);

}  // namespace tavri
