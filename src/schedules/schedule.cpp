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
  if (const Outcome o = create(*name); !o.ok()) dialogs_.alert(o.message, o.detail, {"OK"});
}

Outcome Schedule::create(const QString& name, qint64* id) {
  console_log(QString("NEW SCHEDULE: %1").arg(name));
  Outcome o = catalogue_.add(Record{{"name", name}, {"tasks", 0}, {"tasklist", QVariantList()}}, id);
  if (o.ok()) save();
  return o;
}

Outcome Schedule::rename(qint64 id, const QString& name) {
  Outcome o = catalogue_.rename(id, name);
  if (o.ok()) save();
  return o;
}

Outcome Schedule::copy(qint64 id, qint64* copy_id) {
  Outcome o = catalogue_.copy(id, copy_id);
  if (o.ok()) save();
  return o;
}

void Schedule::copy_playlist() {
  if (catalogue_.copy_selected(dialogs_)) save();
}

void Schedule::changeName() {
  if (catalogue_.rename_selected(dialogs_)) save();
}

void Schedule::delete_line() {
  const RecordArray chosen = catalogue_.list().selected_records();
  if (chosen.isEmpty()) return;
  const QString message = chosen.size() == 1
                              ? QString("Remove the schedule \"%1\"?").arg(chosen.first().value("name").toString())
                              : QString("Remove %1 schedules?").arg(chosen.size());
  if (dialogs_.alert(message, "Its file is removed from the content folder.", {"Cancel", "Remove"}) != 1) return;
  remove(catalogue_.selected_ids());
}

Outcome Schedule::remove(const QList<qint64>& ids) {
  if (Outcome o = catalogue_.check_ids(ids); !o.ok()) return o;
  RecordList& list = catalogue_.list();
  const auto removed = catalogue_.with_indices(ids);
  {
    const QSignalBlocker quiet(&list);  // one announcement for the whole deletion
    catalogue_.remove_ids(ids);
  }
  bus_.post(note::GET_URL);
  for (qint64 id : ids) unpublish_file(folder_url_, schedule_file_name(id));
  list.refresh();
  bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
  QPointer<Schedule> self(this);
  remember_deletion(removed.size() == 1 ? "remove schedule" : "remove schedules", [self, removed] {
    if (!self || !self->catalogue_.put_back(removed)) return;
    self->save();
    self->bus_.post(note::SCHEDULE_LIST_DID_CHANGE);
    self->bus_.post(note::PUBLISH_STALE_FILES);
  });
  return Outcome::done();
}

void Schedule::save() { catalogue_.save(); }
void Schedule::load() {
  catalogue_.load();
  report_damaged_catalogue(catalogue_, dialogs_, "schedules");
}
void Schedule::tableViewSelectionDidChange() { bus_.post(note::SCHEDULE_LIST_DID_CHANGE); }

}  // namespace tavri
