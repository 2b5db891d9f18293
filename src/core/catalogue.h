#pragma once
#include <QString>
#include <optional>

#include "dialogs.h"
#include "record_list.h"

namespace tavri {

// A named-record catalogue kept in one documents-folder file under
// "SPEICHER": the shared save and load of the playlist and schedule lists.
class Catalogue {
 public:
  Catalogue(QString file_name, QString save_tag, QString load_tag);

  RecordList& list() { return list_; }
  // Sorts by "name" (character codes), then writes the whole file.
  bool save();
  // Empties the list and refills it from the file, selecting the first record.
  void load();
  // Lowest id from 1 below 65535 that no record carries; nothing when all are taken.
  std::optional<int> free_id() const;
  // The same, or an alert saying that no id is free.
  std::optional<int> allocate_id(Dialogs& dialogs) const;

  // Operations both catalogues offer on their selection.
  void append_and_select(const Record& record);
  // A copy of the first selected record under a new id; false when nothing was copied.
  bool copy_selected(Dialogs& dialogs);
  // Prompts for a new name of the first selected record; false on cancel or without selection.
  bool rename_selected(Dialogs& dialogs);
  void remove_selected();

 private:
  QString path() const;
  RecordList list_;
  QString file_name_, save_tag_, load_tag_;
};

// The text prompt shared by every catalogue and editor.
std::optional<QString> prompt_for_name(Dialogs& dialogs, const QString& start_text);

}  // namespace tavri
