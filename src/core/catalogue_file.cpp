#include "catalogue_file.h"

#include "console.h"
#include "folders.h"
#include "keyed_archive.h"

namespace tavri {

bool save_catalogue(const QString& path, const RecordArray& records, const QString& save_tag) {
  const QByteArray bytes = encode_archive({{kCatalogueKey, to_variant_list(records)}});
  return save_file_logged(path, bytes, save_tag);
}

RecordArray load_catalogue(const QString& path, const QString& load_tag) {
  const auto bytes = read_file(path);
  if (!bytes || bytes->isEmpty()) return {};
  console_log(load_tag);
  QString error;
  const auto top = decode_archive(*bytes, &error);
  if (!top || top->value(kCatalogueKey).metaType().id() != QMetaType::QVariantList) {
    console_log(QString("LOAD ERROR: %1 - %2").arg(path, top ? "no record list" : error));
    keep_damaged_copy(path);
    return {};
  }
  return to_record_array(top->value(kCatalogueKey).toList());
}

}  // namespace tavri
