#include "schedule.h"

#include <QPointer>

#include "core/console.h"
#include "core/undo_history.h"
#include "core/folders.h"
#include "core/notifications.h"
#include "playlists/published_file.h"

namespace tavri {

Schedule::Schedule(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent),
      bus_(bus),
      dialogs_(dialogs),
      catalogue_(kScheduleFile, "SAVE SCHEDULE LIST !!!!!", "LOAD SCHEDULE LIST !!!!!") {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  bus_.register_observer(this, note::FOLDER_URL, [this](const QVariant& v) { folder_url_ = v.toUrl(); });
  connect(&catalogue_.list(), &RecordList::selection_changed, this, &Schedule::tableViewSelectionDidChange);
}

std::optional<Record> Schedule::new_schedule(const QString& name) {
  const auto id = catalogue_.allocate_id(dialogs_);
  if (!id) return std::nullopt;
  return Record{{"name", name}, {"tasks", 0}, {"id", *id}, {"tasklist", QVariantList()}};
}

void Schedule::append_and_select(const Record& schedule) { catalogue_.append_and_select(schedule); }

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
  if (catalogue_.copy_selected(dialogs_)) save();
}

void Schedule::changeName() {
  if (catalogue_.rename_selected(dialogs_)) save();
}

void Schedule::delete_line() {
  RecordList& list = catalogue_.list();
  const RecordArray chosen = list.selected_records();
  if (chosen.isEmpty()) return;
  const QString message = chosen.size() == 1
                              ? QString("Remove the schedule \"%1\"?").arg(chosen.first().value("name").toString())
                              : QString("Remove %1 schedules?").arg(chosen.size());
  if (dialogs_.alert(message, "Its file is removed from the content folder.", {"Cancel", "Remove"}) != 1) return;
  const auto removed = catalogue_.selected_with_indices();
  {
    const QSignalBlocker quiet(&list);  // one announcement for the whole deletion
    catalogue_.remove_selected();
  }
  bus_.post(note::GET_URL);
  for (const Record& schedule : chosen) unpublish_file(folder_url_, schedule_file_name(schedule.value("id")));
  list.refresh();
  bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
  QPointer<Schedule> self(this);
  remember_deletion(chosen.size() == 1 ? "remove schedule" : "remove schedules", [self, removed] {
    if (!self || !self->catalogue_.put_back(removed)) return;
    self->save();
    self->bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
    self->bus_.post(note::PUBLISH_STALE_FILES);
  });
}

void Schedule::save() { catalogue_.save(); }
void Schedule::load() {
  catalogue_.load();
  report_damaged_catalogue(catalogue_, dialogs_, "schedules");
}
void Schedule::tableViewSelectionDidChange() { bus_.post(note::SCHEDULE_LIST_DID_CHANGE); }

}  // namespace tavri
