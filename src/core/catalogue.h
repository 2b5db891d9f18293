#pragma once
#include "core/outcome.h"
#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>
#include <vector>
#include <utility>

#include "debounce.h"
#include "dialogs.h"
#include "record_list.h"

namespace tavri {

// A named-record catalogue kept in one documents-folder file under
// "SPEICHER": the shared save and load of the playlist and schedule lists.
class Catalogue {
 public:
  Catalogue(QString file_name, QString save_tag, QString load_tag);

  RecordList& list() { return list_; }
  // Sorts by "name" (character codes), then writes the whole file in the
  // background (BackgroundWriter). A file that failed to load is not
  // overwritten until the operator edits: false then.
  bool save();
  // Empties the list and refills it from the file, selecting the first record.
  void load();
  // Where the last load kept a damaged file (once; empty when nothing is new).
  QString take_damaged_copy() { return std::exchange(damaged_copy_, {}); }
  // Edits are written in the background about two seconds after the last one.
  static constexpr int kAutosaveMs = 2000;
  // Lowest id from 1 below 65535 that no record carries and no player
  // reports as its current list (a new list under the id of one a player
  // still plays would be loaded in its place at the next refresh); when
  // none is, the lowest that no record carries; nothing when all are taken.
  std::optional<int> free_id() const;
  // The list ids the players report now.
  void set_ids_in_use(std::function<QSet<qint64>()> ids) { ids_in_use_ = std::move(ids); }
  // Told each id a new list takes: one appended, or one whose name an
  // import changes (not the first load, nor an undo putting a list back).
  void set_on_id_taken(std::function<void(qint64)> taken) { on_id_taken_ = std::move(taken); }
  // The same, or an alert saying that no id is free.
  std::optional<int> allocate_id(Dialogs& dialogs) const;

  // Operations both catalogues offer, by id; each checks its arguments
  // first and changes nothing when one is wrong.
  int index_of(qint64 id) const;  // -1 for none
  QString name_of(qint64 id) const;  // empty for none
  Outcome check_ids(const QList<qint64>& ids) const;
  // A name the players would read as two fields, or show as no name or a
  // broken one. The window takes any name (a send of it then refuses);
  // the API refuses them at once.
  static Outcome check_name(const QString& name);
  Outcome rename(qint64 id, const QString& name);
  // The record under the lowest free id, appended and selected; its id in `id`.
  Outcome add(Record record, qint64* id = nullptr);
  // A copy under a new id, selected; the new id in `copy_id`.
  Outcome copy(qint64 id, qint64* copy_id = nullptr);
  // The records with these ids, each with its list index, lowest first.
  using Placed = std::vector<std::pair<int, Record>>;
  Placed with_indices(const QList<qint64>& ids) const;
  void remove_ids(const QList<qint64>& ids);

  // Which life of its id a list is in: a new one each time a list takes
  // the id, so that one removed and made again under the same id is not
  // taken for the old one (the API's ETags carry it).
  quint64 incarnation(qint64 id) const { return incarnations_.value(id, 0); }

  // The same on the selection, for the window.
  void append_and_select(const Record& record);
  // A copy of the first selected record under a new id; false when nothing was copied.
  bool copy_selected(Dialogs& dialogs);
  // Prompts for a new name of the first selected record; false on cancel or without selection.
  bool rename_selected(Dialogs& dialogs);
  QList<qint64> selected_ids() const;
  // Removed records (from with_indices) back at their places, selected;
  // false (and nothing put back) when one of their ids has been taken since.
  bool put_back(const Placed& removed);

 private:
  QString path() const;
  // The records as a save writes them: sorted by name.
  RecordArray sorted(QList<int>* selection = nullptr) const;
  void autosave();
  void write_in_background(const RecordArray& records);

  RecordList list_;
  QString file_name_, save_tag_, load_tag_;
  Debounce autosave_;
  bool quiet_ = false;  // our own load and save are no edits
  bool load_failed_ = false;
  std::function<QSet<qint64>()> ids_in_use_;
  std::function<void(qint64)> on_id_taken_;
  bool loaded_once_ = false;
  QString damaged_copy_;
  QHash<qint64, quint64> incarnations_;
  quint64 next_incarnation_ = 1;
};

// After a load that kept a damaged file aside: one alert with the copy's path.
void report_damaged_catalogue(Catalogue& catalogue, Dialogs& dialogs, const QString& what);

// The text prompt shared by every catalogue and editor.
std::optional<QString> prompt_for_name(Dialogs& dialogs, const QString& start_text);

}  // namespace tavri
