#pragma once
#include <QObject>
#include <QSet>
#include <optional>
#include <vector>

#include "record.h"

namespace tavri {

// An ordered, observable list of records with a selection. Records keep
// their list order (the order they were added); an optional sort key gives
// a separate display order, which tables show and selections follow.
class RecordList : public QObject {
  Q_OBJECT
 public:
  explicit RecordList(QObject* parent = nullptr);

  // List order.
  int size() const { return static_cast<int>(items_.size()); }
  // Changes whenever a record is added or removed (list indices may move),
  // not when values change: indexes by list position compare it.
  quint64 layout_serial() const { return layout_serial_; }
  bool empty() const { return items_.empty(); }
  const Record& at(int index) const { return items_[index].record; }
  RecordArray records() const;
  void set_records(const RecordArray& records);
  void append(const Record& record);
  void insert(int index, const Record& record);
  void remove_at(int index);
  // Several at once, in one pass (a full registry gives up a thousand).
  void remove_list_indices(const std::vector<int>& indices);
  void clear();
  void replace(int index, const Record& record);
  void set_value(int index, const QString& key, const QVariant& value);
  // Tells views to redraw (values shown through the clock, for example).
  void refresh() { emit changed(); }
  // While `changed` is emitted for the values of one record whose display
  // row stays put: its list index; kManyRows when the values of many rows
  // changed and every row stays put; -1 for any other change.
  static constexpr int kManyRows = -2;
  int changed_row() const { return changed_row_; }
  // Between these, changes are gathered and told once at the end (a few
  // rows one by one, more as one change), so views re-sort and redraw once
  // for a burst of edits instead of once per edit. They nest.
  void begin_changes() { ++batch_depth_; }
  void end_changes();

  // Display order: sorted by a text key when one is set, else list order.
  // by_value: values that start with a number ("9.30 MB", "25") sort by
  // that number before their text.
  void set_sort_key(const QString& key, bool case_insensitive = true, bool ascending = true, bool by_value = false);
  void clear_sort();
  QString sort_key() const { return sort_key_; }
  bool sort_ascending() const { return ascending_; }
  int list_index_of_row(int display_row) const;
  int row_of_list_index(int list_index) const;
  const Record& row(int display_row) const { return at(list_index_of_row(display_row)); }

  // Selection, reported in display order.
  void select_rows(const QList<int>& display_rows);
  void select_list_indices(const QList<int>& list_indices);
  void select_first_row();
  void clear_selection();
  QList<int> selected_rows() const;
  QList<int> selected_list_indices() const;
  RecordArray selected_records() const;
  int selection_count() const { return static_cast<int>(selected_.size()); }
  bool has_selection() const { return !selected_.isEmpty(); }

 signals:
  void changed();
  void selection_changed();

 private:
  // A record's sort key as compared: read and case-folded once, until the
  // record's value under the key changes.
  struct SortKey {
    QString text;
    std::optional<double> number;
  };
  struct Item {
    quint64 uid;
    Record record;
    mutable std::optional<SortKey> key = std::nullopt;
  };
  void invalidate();
  void row_changed(int index);
  const std::vector<int>& order() const;

  std::vector<Item> items_;
  quint64 next_uid_ = 1;
  quint64 layout_serial_ = 0;
  QSet<quint64> selected_;
  QString sort_key_;
  bool case_insensitive_ = true;
  bool ascending_ = true;
  bool by_value_ = false;
  mutable std::vector<int> order_;
  mutable std::vector<int> row_of_;  // the inverse of order_
  mutable bool order_valid_ = false;
  int changed_row_ = -1;
  int batch_depth_ = 0;
  bool batch_reset_ = false;
  std::vector<int> batch_rows_;
};

}  // namespace tavri
