#pragma once
#include <QString>

#include "record.h"

namespace tavri {

// The catalogue files: a keyed archive with the records under "SPEICHER".
// save: whole file, atomic, logs the save tag or "SAVE ERROR !!!!!".
bool save_catalogue(const QString& path, const RecordArray& records, const QString& save_tag);
// load: missing or empty file gives no records and no log line; a damaged
// file is logged by name, kept as "<name>.damaged", and gives no records.
RecordArray load_catalogue(const QString& path, const QString& load_tag);

inline constexpr char kCatalogueKey[] = "SPEICHER";

}  // namespace tavri
