#include "schedule.h"

#include "core/folders.h"
#include "core/notifications.h"

namespace tavri {

Schedule::Schedule(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      bus_(bus),
      dialogs_(dialogs),
      catalogue_(kScheduleFile, "SAVE SCHEDULE LIST !!!!!", "LOAD SCHEDULE LIST !!!!!") {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  connect(&catalogue_.list(), &RecordList::selection_changed, this,
          &Schedule::tableViewSelectionDidChange);
}

void Schedule::save() { catalogue_.save(); }
void Schedule::load() { catalogue_.load(); }
void Schedule::tableViewSelectionDidChange() { bus_.post(note::SCHEDULE_LIST_DID_CHANGE); }

}  // namespace tavri
