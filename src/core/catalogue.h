#pragma once
#include <QString>
#include <optional>

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

 private:
  QString path() const;
  RecordList list_;
  QString file_name_, save_tag_, load_tag_;
};

}  // namespace tavri
