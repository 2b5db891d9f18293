#include "catalogue_file.h"

#include "console.h"
#include "folders.h"
#include "keyed_archive.h"
#include "text_rule.h"

namespace tavri {

QByteArray encode_catalogue(const RecordArray& records) {
  return encode_archive({{kCatalogueKey, to_variant_list(records)}});
}

bool save_catalogue(const QString& path, const RecordArray& records, const QString& save_tag) {
  return save_file_logged(path, encode_catalogue(records), save_tag);
}

bool is_catalogue_archive(const QByteArray& bytes) {
  const auto top = decode_archive(bytes);
  return top && top->value(kCatalogueKey).metaType().id() == QMetaType::QVariantList;
}

CatalogueLoad load_catalogue(const QString& path, const QString& load_tag) {
  CatalogueLoad result;
  const auto bytes = read_file(path);
  if (!bytes || bytes->isEmpty()) return result;
  console_log(load_tag);
  QString error;
  const auto top = decode_archive(*bytes, &error);
  if (!top || top->value(kCatalogueKey).metaType().id() != QMetaType::QVariantList) {
    console_log(QString("LOAD ERROR: %1 - %2").arg(path, top ? "no record list" : error));
    result.failed = true;
    result.damaged_copy = keep_damaged_copy(path);
    return result;
  }
  const QVariantList list = top->value(kCatalogueKey).toList();
  result.records = to_record_array(list);
  if (result.records.size() != list.size()) {
    console_log(QString("LOAD ERROR: %1 - %2 entries are not records and were dropped")
                    .arg(path)
                    .arg(list.size() - result.records.size()));
    result.damaged_copy = keep_damaged_copy(path);
  }
  // A name no entrance would take today is dropped with its record, said
  // by id, rather than let it break the file at the next save.
  const auto dropped = text_rule::drop_breaking_text(result.records, {{"name", text_rule::Kind::name}});
  for (const QString& why : dropped) console_log(QString("LOAD ERROR: %1 - %2").arg(path, why));
  if (!dropped.isEmpty() && result.damaged_copy.isEmpty()) result.damaged_copy = keep_damaged_copy(path);
  return result;
}

}  // namespace tavri
