#pragma once
#include <QHash>
#include <QImage>
#include <QAbstractTableModel>
#include <QMimeData>
#include <functional>
#include <vector>

#include "core/record_list.h"
#include "widgets/tavri_table_view.h"

namespace tavri {

// One column of a record table: what it shows of a record and how.
struct Column {
  Column() = default;
  Column(QString key_, QString title_, int width_ = 100) : key(std::move(key_)), title(std::move(title_)), width(width_) {}
  QString key;    // the record key shown, edited and sorted by
  QString title;
  int width = 100;
  std::function<QVariant(const Record&)> display;     // default: the key's value
  std::function<QVariant(const Record&)> decoration;  // an image or colour swatch
  std::function<QVariant(const Record&)> foreground;  // text colour
  bool checkbox = false;                              // 0/1 values shown as a box
  std::function<bool(const Record&)> checked;         // the box's state; default: the key's flag
  std::function<void(int list_index, const QVariant&)> edit;  // editable when set
  bool sortable = false;                              // a header click sets the display sort
  std::function<QVariant(const Record&)> tooltip;     // default: the shown text
  QString header_tooltip;                             // what the column means
};

// The content item's thumbnail, and its length as a time code.
Column thumbnail_column();
Column length_column();

// A record list as a table model, in the list's display order.
class RecordTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  RecordTableModel(RecordList& list, std::vector<Column> columns, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  const Column& column(int i) const { return columns_[static_cast<std::size_t>(i)]; }
  // Rows a person can pick up, and what may be dropped on them: without
  // these flags a view never starts a drag nor shows where one would land.
  void set_draggable(bool draggable) { draggable_ = draggable; }
  void set_drop_check(std::function<bool(const QMimeData&)> check) { drop_check_ = std::move(check); }
  QStringList mimeTypes() const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const override {
    return data && drop_check_ && drop_check_(*data);
  }
  Qt::DropActions supportedDropActions() const override { return Qt::CopyAction | Qt::MoveAction; }

 private:
  // The icon a decoration shows, scaled once per picture: a new image at
  // each paint would be a new entry of Qt's pixmap cache each time, and
  // the cache filled up to its limit under steady feedback.
  QImage icon_for(const QImage& picture) const;

  RecordList& list_;
  std::vector<Column> columns_;
  mutable QHash<qint64, QImage> icons_;
  bool draggable_ = false;
  std::function<bool(const QMimeData&)> drop_check_;
};

// A styled table bound to a record list; selections follow each other.
class RecordTable : public tavri_table_view {
  Q_OBJECT
 public:
  RecordTable(const QString& object_name, RecordList& list, std::vector<Column> columns, QWidget* parent = nullptr);
  // Shows only the rows whose shown text contains the filter (any column,
  // any case); hidden rows leave the selection, so no command acts on a row
  // the operator cannot see. Empty: every row.
  void set_filter(const QString& text);
  QString filter() const { return filter_; }

  // Columns the operator can hide and show again (right-click on the
  // header); their choice is kept under `settings_key`. The first named
  // column always shows.
  void set_optional_columns(const QString& settings_key, const QStringList& hidden_at_first);

  // Dragging: the selected rows leave as their list indices under `mime`.
  void set_drag_rows(const QString& mime);
  // Dropping: `drop` gets what was dropped and the display row under it
  // (the row count below the last row); `accepts` says whether to take it.
  using DropCheck = std::function<bool(const QMimeData&)>;
  using Drop = std::function<void(const QMimeData&, int row)>;
  void set_drop(DropCheck accepts, Drop drop);
  // A drag is over the table and its drop line is drawn.
  bool drop_line_shown() const { return state() == DraggingState && showDropIndicator(); }
  static QList<int> dragged_rows(const QMimeData& data, const QString& mime);
  // What a drop on `row` does; false when this table does not take the data.
  bool drop_data(const QMimeData& data, int row);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void startDrag(Qt::DropActions actions) override;

 private:
  void sync_sort_indicator();
  bool takes(const QMimeData& data) const;
  QString drag_mime_;
  DropCheck drop_accepts_;
  Drop drop_;
  void list_to_view();
  void view_to_list();

  RecordList& list_;
  RecordTableModel* model_;
  bool syncing_ = false;
  QString filter_;
  bool matches(int row) const;
  void apply_filter();
  void apply_filter_to(int row);
};

}  // namespace tavri
