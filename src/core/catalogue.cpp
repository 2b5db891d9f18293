#include "catalogue.h"

#include <QSet>
#include <algorithm>

#include <QScopedValueRollback>

#include "background_writer.h"
#include "catalogue_file.h"
#include "console.h"
#include "folders.h"
#include "players/net/wire_protocol.h"
#include "text_rule.h"

namespace tavri {

Catalogue::Catalogue(QString file_name, QString save_tag, QString load_tag)
    : file_name_(std::move(file_name)),
      save_tag_(std::move(save_tag)),
      load_tag_(std::move(load_tag)),
      autosave_(kAutosaveMs, 5 * kAutosaveMs, [this] { autosave(); }) {
  QObject::connect(&list_, &RecordList::changed, &autosave_, [this] {
    if (quiet_) return;
    load_failed_ = false;
    autosave_.touch();
  });
}

QString Catalogue::path() const { return documents_folder() + "/" + file_name_; }

RecordArray Catalogue::sorted(QList<int>* selection) const {
  const RecordArray records = list_.records();
  const QList<int> selected = list_.selected_list_indices();
  std::vector<int> order(records.size());
  for (int i = 0; i < records.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return records[a].value("name").toString() < records[b].value("name").toString();
  });
  RecordArray out;
  for (int k = 0; k < static_cast<int>(order.size()); ++k) {
    out.append(records[order[k]]);
    if (selection && selected.contains(order[k])) selection->append(k);
  }
  return out;
}

bool Catalogue::save() {
  autosave_.cancel();
  if (load_failed_) {
    console_log(QString("SAVE SKIPPED: %1 failed to load and is kept until the list is edited").arg(path()));
    return false;
  }
  QList<int> new_selection;
  const RecordArray records = sorted(&new_selection);
  {
    // One announcement of the sorted list and its selection, so that the
    // editor sees the same playlist stay selected rather than none first.
    const QScopedValueRollback quiet(quiet_, true);
    {
      const QSignalBlocker once(&list_);
      list_.set_records(records);
      list_.select_list_indices(new_selection);
    }
    emit list_.changed();
    emit list_.selection_changed();
  }
  write_in_background(records);
  return true;
}

void Catalogue::autosave() {
  // A snapshot in the order a save writes, without reordering what the operator sees.
  if (!load_failed_) write_in_background(sorted());
}

void Catalogue::write_in_background(const RecordArray& records) {
  BackgroundWriter::instance().submit_bytes(
      path(), [records] { return encode_catalogue(records); }, save_tag_);
}

void Catalogue::load() {
  autosave_.cancel();
  // What was saved is what is read back.
  BackgroundWriter::instance().wait_idle(60000);
  const QScopedValueRollback quiet(quiet_, true);
  // A later load (an import) gives an id to another list when the name
  // under it changes.
  const bool reload = std::exchange(loaded_once_, true) && on_id_taken_;
  QHash<qint64, QString> before;
  for (int i = 0; reload && i < list_.size(); ++i)
    before.insert(list_.at(i).value("id").toLongLong(), list_.at(i).value("name").toString());
  list_.clear();
  // Every list read anew is a new life of its id.
  for (auto it = incarnations_.begin(); it != incarnations_.end(); ++it) it.value() = next_incarnation_++;
  CatalogueLoad loaded = load_catalogue(path(), load_tag_);
  load_failed_ = loaded.failed;
  damaged_copy_ = loaded.damaged_copy;
  if (reload)
    for (const Record& r : loaded.records)
      if (before.value(r.value("id").toLongLong()) != r.value("name").toString())
        on_id_taken_(r.value("id").toLongLong());
  if (loaded.records.isEmpty()) return;
  list_.set_records(loaded.records);
  list_.select_first_row();
}

std::optional<int> Catalogue::free_id() const {
  QSet<qint64> taken;
  for (int i = 0; i < list_.size(); ++i) taken.insert(list_.at(i).value("id").toLongLong());
  const QSet<qint64> in_use = ids_in_use_ ? ids_in_use_() : QSet<qint64>();
  for (int id = 1; id < 65535; ++id)
    if (!taken.contains(id) && !in_use.contains(id)) return id;
  for (int id = 1; id < 65535; ++id)
    if (!taken.contains(id)) return id;
  return std::nullopt;
}

void report_damaged_catalogue(Catalogue& catalogue, Dialogs& dialogs, const QString& what) {
  const QString copy = catalogue.take_damaged_copy();
  if (copy.isEmpty()) return;
  dialogs.alert(QString("The saved %1 could not be read completely.").arg(what),
                QString("A copy of the file as it was is kept as %1").arg(copy), {"OK"});
}

std::optional<QString> prompt_for_name(Dialogs& dialogs, const QString& start_text) {
  return dialogs.prompt("Please enter the new name:", start_text, 200);
}

std::optional<int> Catalogue::allocate_id(Dialogs& dialogs) const {
  auto id = free_id();
  if (!id) dialogs.alert("No free id", "Every id from 1 to 65534 is taken. Remove one before creating another.", {"OK"});
  return id;
}

void Catalogue::append_and_select(const Record& record) {
  incarnations_.insert(record.value("id").toLongLong(), next_incarnation_++);
  if (on_id_taken_) on_id_taken_(record.value("id").toLongLong());
  list_.append(record);
  list_.select_list_indices({list_.size() - 1});
}

int Catalogue::index_of(qint64 id) const {
  for (int i = 0; i < list_.size(); ++i)
    if (list_.at(i).value("id").toLongLong() == id) return i;
  return -1;
}

QString Catalogue::name_of(qint64 id) const {
  const int i = index_of(id);
  return i < 0 ? QString() : list_.at(i).value("name").toString();
}

Outcome Catalogue::check_ids(const QList<qint64>& ids) const {
  if (ids.isEmpty()) return Outcome::bad("ids", "No list was named.");
  for (qint64 id : ids)
    if (index_of(id) < 0) return Outcome::unknown("id", QString("No list has the id %1.").arg(id));
  return Outcome::done();
}

Outcome Catalogue::check_name(const QString& name) {
  const QString separator = QString::fromUtf8(wire::kSeparator.data(), static_cast<qsizetype>(wire::kSeparator.size()));
  if (name.contains(separator))
    return Outcome::bad("name", QString("The name must not contain %1").arg(separator),
                        "The players would read it as two fields.");
  if (name.trimmed().isEmpty() || name.contains('\n') || name.contains('\r'))
    return Outcome::bad("name", "The name must not be empty or blank, or span several lines.");
  if (const auto problem = text_rule::problem(name, text_rule::Kind::name))
    return Outcome::bad("name", "This name cannot be used.", *problem);
  return Outcome::done();
}

Outcome Catalogue::rename(qint64 id, const QString& name) {
  if (Outcome o = check_ids({id}); !o.ok()) return o;
  console_log(QString("NEW NAME: %1").arg(name));
  list_.set_value(index_of(id), "name", name);
  return Outcome::done();
}

Outcome Catalogue::add(Record record, qint64* id) {
  const auto free = free_id();
  if (!free) return Outcome::conflict("id", "No free id", "Every id from 1 to 65534 is taken. Remove one before creating another.");
  record["id"] = *free;
  append_and_select(record);
  if (id) *id = *free;
  return Outcome::done();
}

Outcome Catalogue::copy(qint64 id, qint64* copy_id) {
  if (Outcome o = check_ids({id}); !o.ok()) return o;
  // Records are values: the copy and everything in it are its own.
  return add(list_.at(index_of(id)), copy_id);
}

Catalogue::Placed Catalogue::with_indices(const QList<qint64>& ids) const {
  Placed placed;
  for (int i = 0; i < list_.size(); ++i)
    if (ids.contains(list_.at(i).value("id").toLongLong())) placed.emplace_back(i, list_.at(i));
  return placed;
}

void Catalogue::remove_ids(const QList<qint64>& ids) {
  const Placed doomed = with_indices(ids);
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) list_.remove_at(it->first);
  for (qint64 id : ids) incarnations_.remove(id);
}

QList<qint64> Catalogue::selected_ids() const {
  QList<qint64> ids;
  for (const Record& r : list_.selected_records()) ids << r.value("id").toLongLong();
  return ids;
}

bool Catalogue::copy_selected(Dialogs& dialogs) {
  const RecordArray selected = list_.selected_records();
  if (selected.isEmpty()) return false;
  const Outcome o = copy(selected.first().value("id").toLongLong());
  if (!o.ok()) dialogs.alert(o.message, o.detail, {"OK"});
  return o.ok();
}

bool Catalogue::rename_selected(Dialogs& dialogs) {
  const QList<int> selected = list_.selected_list_indices();
  if (selected.isEmpty()) return false;
  console_log("EDIT");
  const auto name = prompt_for_name(dialogs, list_.at(selected.first()).value("name").toString());
  if (!name) return false;
  const Outcome o = rename(list_.at(selected.first()).value("id").toLongLong(), *name);
  if (!o.ok()) dialogs.alert(o.message, o.detail, {"OK"});
  return o.ok();
}

bool Catalogue::put_back(const Placed& removed) {
  const RecordArray present = list_.records();
  for (const auto& [index, record] : removed)
    for (const Record& r : present)
      if (r.value("id") == record.value("id")) return false;
  QList<int> indices;
  for (const auto& [index, record] : removed) {
    incarnations_.insert(record.value("id").toLongLong(), next_incarnation_++);
    const int at = std::min(index, static_cast<int>(list_.size()));
    list_.insert(at, record);
    indices << at;
  }
  list_.select_list_indices(indices);
  return true;
}

}  // namespace tavri
