#include "record.h"

namespace tavri {

QVariantList to_variant_list(const RecordArray& records) {
  QVariantList out;
  out.reserve(records.size());
  for (const auto& r : records) out.append(r);
  return out;
}

RecordArray to_record_array(const QVariantList& list) {
  RecordArray out;
  out.reserve(list.size());
  for (const auto& v : list)
    if (v.metaType().id() == QMetaType::QVariantMap) out.append(v.toMap());
  return out;
}

}  // namespace tavri
