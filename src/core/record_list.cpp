#include "record_list.h"

#include <optional>

#include <algorithm>
#include <numeric>

namespace tavri {

RecordList::RecordList(QObject* parent) : QObject(parent) {}

RecordArray RecordList::records() const {
  RecordArray out;
  out.reserve(size());
  for (const auto& item : items_) out.append(item.record);
  return out;
}

void RecordList::set_records(const RecordArray& records) {
  items_.clear();
  ++layout_serial_;
  for (const auto& r : records) items_.push_back({next_uid_++, r});
  const bool had_selection = !selected_.isEmpty();
  selected_.clear();
  invalidate();
  if (had_selection) emit selection_changed();
}

void RecordList::append(const Record& record) {
  items_.push_back({next_uid_++, record});
  ++layout_serial_;
  invalidate();
}

void RecordList::insert(int index, const Record& record) {
  index = std::clamp(index, 0, size());
  items_.insert(items_.begin() + index, {next_uid_++, record});
  ++layout_serial_;
  invalidate();
}

void RecordList::remove_at(int index) {
  if (index < 0 || index >= size()) return;
  const bool was_selected = selected_.remove(items_[index].uid);
  items_.erase(items_.begin() + index);
  ++layout_serial_;
  invalidate();
  if (was_selected) emit selection_changed();
}

void RecordList::remove_list_indices(const std::vector<int>& indices) {
  std::vector<bool> doomed(items_.size(), false);
  bool any = false, was_selected = false;
  for (int i : indices)
    if (i >= 0 && i < size() && !doomed[static_cast<std::size_t>(i)]) {
      doomed[static_cast<std::size_t>(i)] = any = true;
      was_selected |= selected_.remove(items_[static_cast<std::size_t>(i)].uid);
    }
  if (!any) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (!doomed[i]) items_[kept++] = std::move(items_[i]);
  items_.resize(kept);
  ++layout_serial_;
  invalidate();
  if (was_selected) emit selection_changed();
}

void RecordList::clear() { set_records({}); }

void RecordList::replace(int index, const Record& record) {
  if (index < 0 || index >= size()) return;
  const bool order_kept = sort_key_.isEmpty() || items_[index].record.value(sort_key_) == record.value(sort_key_);
  items_[index].record = record;
  if (!order_kept) items_[index].key.reset();
  order_kept ? row_changed(index) : invalidate();
}

void RecordList::set_value(int index, const QString& key, const QVariant& value) {
  if (index < 0 || index >= size()) return;
  const bool order_kept = key != sort_key_ || items_[index].record.value(key) == value;
  items_[index].record.insert(key, value);
  if (!order_kept) items_[index].key.reset();
  order_kept ? row_changed(index) : invalidate();
}

void RecordList::row_changed(int index) {
  if (batch_depth_ > 0) {
    if (!batch_reset_) batch_rows_.push_back(index);
    return;
  }
  // The display order still holds: views redraw one row and keep their
  // selection, current row and anchor.
  changed_row_ = index;
  emit changed();
  changed_row_ = -1;
}

void RecordList::end_changes() {
  if (batch_depth_ == 0 || --batch_depth_ > 0) return;
  std::vector<int> rows;
  rows.swap(batch_rows_);
  const bool reset = batch_reset_;
  batch_reset_ = false;
  if (reset) {
    emit changed();
    return;
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // A few rows are told one by one; more in one go, as a view redraws them.
  constexpr std::size_t kRowsOneByOne = 16;
  if (rows.size() <= kRowsOneByOne) {
    for (int index : rows) row_changed(index);
    return;
  }
  changed_row_ = kManyRows;
  emit changed();
  changed_row_ = -1;
}

void RecordList::set_sort_key(const QString& key, bool case_insensitive, bool ascending, bool by_value) {
  sort_key_ = key;
  case_insensitive_ = case_insensitive;
  ascending_ = ascending;
  by_value_ = by_value;
  for (const Item& item : items_) item.key.reset();
  invalidate();
}

void RecordList::clear_sort() { set_sort_key({}); }

void RecordList::invalidate() {
  order_valid_ = false;
  if (batch_depth_ > 0) {
    batch_reset_ = true;
    batch_rows_.clear();
    return;
  }
  emit changed();
}

namespace {
// The number a text starts with ("3221.23 MB" gives 3221.23), if any.
std::optional<double> leading_number(const QString& text) {
  const QString t = text.trimmed();
  int end = 0;
  if (end < t.size() && (t[end] == '-' || t[end] == '+')) ++end;
  const int digits_from = end;
  while (end < t.size() && (t[end].isDigit() || t[end] == '.')) ++end;
  if (end == digits_from) return std::nullopt;
  bool ok = false;
  const double v = t.left(end).toDouble(&ok);
  return ok ? std::optional<double>(v) : std::nullopt;
}
}  // namespace

const std::vector<int>& RecordList::order() const {
  if (order_valid_) return order_;
  order_.resize(items_.size());
  std::iota(order_.begin(), order_.end(), 0);
  if (!sort_key_.isEmpty()) {
    // Each key is read and case-folded once, not once per comparison nor
    // per sort: a registry of ten thousand players re-sorts within a frame
    // while new players arrive.
    for (const Item& item : items_) {
      if (item.key) continue;
      SortKey& key = item.key.emplace();
      key.text = item.record.value(sort_key_).toString();
      if (by_value_) key.number = leading_number(key.text);
      if (case_insensitive_) key.text = std::move(key.text).toCaseFolded();
    }
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
      const SortKey& x = *items_[static_cast<std::size_t>(a)].key;
      const SortKey& y = *items_[static_cast<std::size_t>(b)].key;
      int c = 0;
      if (by_value_) {
        const auto& nx = x.number;
        const auto& ny = y.number;
        if (nx && ny && *nx != *ny) c = *nx < *ny ? -1 : 1;
        else if (nx.has_value() != ny.has_value()) c = nx ? -1 : 1;  // numbers before text
      }
      if (c == 0) c = x.text.compare(y.text, Qt::CaseSensitive);
      return ascending_ ? c < 0 : c > 0;
    });
  }
  row_of_.resize(order_.size());
  for (std::size_t r = 0; r < order_.size(); ++r) row_of_[static_cast<std::size_t>(order_[r])] = static_cast<int>(r);
  order_valid_ = true;
  return order_;
}

int RecordList::list_index_of_row(int display_row) const {
  const auto& o = order();
  if (display_row < 0 || display_row >= static_cast<int>(o.size())) return -1;
  return o[display_row];
}

int RecordList::row_of_list_index(int list_index) const {
  order();
  if (list_index < 0 || list_index >= static_cast<int>(row_of_.size())) return -1;
  return row_of_[static_cast<std::size_t>(list_index)];
}

void RecordList::select_rows(const QList<int>& display_rows) {
  QList<int> indices;
  for (int r : display_rows) {
    const int i = list_index_of_row(r);
    if (i >= 0) indices.append(i);
  }
  select_list_indices(indices);
}

void RecordList::select_list_indices(const QList<int>& list_indices) {
  QSet<quint64> next;
  for (int i : list_indices)
    if (i >= 0 && i < size()) next.insert(items_[i].uid);
  if (next == selected_) return;
  selected_ = next;
  emit selection_changed();
}

void RecordList::select_first_row() {
  if (empty())
    clear_selection();
  else
    select_rows({0});
}

void RecordList::clear_selection() { select_list_indices({}); }

QList<int> RecordList::selected_list_indices() const {
  QList<int> out;
  for (int i : order())
    if (selected_.contains(items_[i].uid)) out.append(i);
  return out;
}

QList<int> RecordList::selected_rows() const {
  QList<int> out;
  const auto& o = order();
  for (int r = 0; r < static_cast<int>(o.size()); ++r)
    if (selected_.contains(items_[o[r]].uid)) out.append(r);
  return out;
}

RecordArray RecordList::selected_records() const {
  RecordArray out;
  for (int i : selected_list_indices()) out.append(items_[i].record);
  return out;
}

}  // namespace tavri
