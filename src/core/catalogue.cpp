#include "catalogue.h"

#include <QSet>
#include <algorithm>

#include "catalogue_file.h"
#include "folders.h"

namespace tavri {

Catalogue::Catalogue(QString file_name, QString save_tag, QString load_tag)
    : file_name_(std::move(file_name)), save_tag_(std::move(save_tag)), load_tag_(std::move(load_tag)) {}

QString Catalogue::path() const { return documents_folder() + "/" + file_name_; }

bool Catalogue::save() {
  RecordArray records = list_.records();
  const QList<int> selected = list_.selected_list_indices();
  std::vector<int> order(records.size());
  for (int i = 0; i < records.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return records[a].value("name").toString() < records[b].value("name").toString();
  });
  RecordArray sorted;
  QList<int> new_selection;
  for (int k = 0; k < static_cast<int>(order.size()); ++k) {
    sorted.append(records[order[k]]);
    if (selected.contains(order[k])) new_selection.append(k);
  }
  list_.set_records(sorted);
  list_.select_list_indices(new_selection);
  return save_catalogue(path(), sorted, save_tag_);
}

void Catalogue::load() {
  list_.clear();
  const RecordArray records = load_catalogue(path(), load_tag_);
  if (records.isEmpty()) return;
  list_.set_records(records);
  list_.select_first_row();
}

std::optional<int> Catalogue::free_id() const {
  QSet<qint64> taken;
  for (int i = 0; i < list_.size(); ++i) taken.insert(list_.at(i).value("id").toLongLong());
  for (int id = 1; id < 65535; ++id)
    if (!taken.contains(id)) return id;
  return std::nullopt;
}

}  // namespace tavri
