#pragma once
#include <QString>

#include "record.h"

namespace tavri {

// The catalogue files: a keyed archive with the records under "SPEICHER".
// save: whole file, atomic, logs the save tag or "SAVE ERROR !!!!!".
QByteArray encode_catalogue(const RecordArray& records);
bool save_catalogue(const QString& path, const RecordArray& records, const QString& save_tag);
// True when the bytes are a keyed archive with a record list under "SPEICHER".
bool is_catalogue_archive(const QByteArray& bytes);

struct CatalogueLoad {
  RecordArray records;
  bool failed = false;   // the file was there but held no record list
  QString damaged_copy;  // where a damaged or partly dropped file was kept
};
// load: missing or empty file gives no records and no log line; a damaged
// file, or one whose list held entries that are not records, is logged by
// name and kept aside (keep_damaged_copy).
CatalogueLoad load_catalogue(const QString& path, const QString& load_tag);

inline constexpr char kCatalogueKey[] = "SPEICHER";

}  // namespace tavri
