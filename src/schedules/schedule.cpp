#include "schedule.h"

#include "core/console.h"
#include "core/folders.h"
#include "core/notifications.h"
#include "playlists/play_list.h"

namespace tavri {

Schedule::Schedule(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      bus_(bus),
      dialogs_(dialogs),
      catalogue_(kScheduleFile, "SAVE SCHEDULE LIST !!!!!", "LOAD SCHEDULE LIST !!!!!") {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  connect(&catalogue_.list(), &RecordList::selection_changed, this, &Schedule::tableViewSelectionDidChange);
}

std::optional<Record> Schedule::new_schedule(const QString& name) {
  const auto id = catalogue_.free_id();
  if (!id) {
    alert_no_free_id(dialogs_);
    return std::nullopt;
  }
  return Record{{"name", name}, {"tasks", 0}, {"id", *id}, {"tasklist", QVariantList()}};
}

void Schedule::append_and_select(const Record& schedule) {
  RecordList& list = catalogue_.list();
  list.append(schedule);
  list.select_list_indices({list.size() - 1});
}

void Schedule::add_new_playlist() {
  console_log("ADD SCHEDULE");
  const auto name = prompt_for_name(dialogs_, "New Schedule");
  if (!name) return;
  console_log(QString("NEW SCHEDULE: %1").arg(*name));
  auto schedule = new_schedule(*name);
  if (!schedule) return;
  append_and_select(*schedule);
  save();
}

void Schedule::copy_playlist() {
  const RecordArray selected = catalogue_.list().selected_records();
  if (selected.isEmpty()) return;
  const auto id = catalogue_.free_id();
  if (!id) return alert_no_free_id(dialogs_);
  // Records are values: the copy's task list and tasks are its own.
  Record copy = selected.first();
  copy["id"] = *id;
  append_and_select(copy);
  save();
}

void Schedule::changeName() {
  RecordList& list = catalogue_.list();
  const QList<int> selected = list.selected_list_indices();
  if (selected.isEmpty()) return;
  console_log("EDIT");
  const auto name = prompt_for_name(dialogs_, list.at(selected.first()).value("name").toString());
  if (!name) return;
  console_log(QString("NEW NAME: %1").arg(*name));
  list.set_value(selected.first(), "name", *name);
  save();
}

void Schedule::delete_line() {
  RecordList& list = catalogue_.list();
  QList<int> selected = list.selected_list_indices();
  std::sort(selected.begin(), selected.end(), std::greater<>());
  {
    const QSignalBlocker quiet(&list);  // one announcement for the whole deletion
    for (int index : selected) list.remove_at(index);
  }
  list.refresh();
  bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
}

void Schedule::save() { catalogue_.save(); }
void Schedule::load() { catalogue_.load(); }
void Schedule::tableViewSelectionDidChange() { bus_.post(note::SCHEDULE_LIST_DID_CHANGE); }

}  // namespace tavri
