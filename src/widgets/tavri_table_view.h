#pragma once
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

namespace tavri {

// Grey header, green bold upper-case titles.
class tavri_header_view : public QHeaderView {
  Q_OBJECT
 public:
  explicit tavri_header_view(QWidget* parent = nullptr);
  // The width a column needs for its whole title and the sort arrow.
  int title_width(const QString& title) const;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;
};

// Draws selected rows in translucent green and centres text vertically.
class table_view_design : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// A clear table with a grey grid that draws its own selection.
class tavri_table_view : public QTableView {
  Q_OBJECT
 public:
  explicit tavri_table_view(QWidget* parent = nullptr);
};

// The text rectangle of a vertically centred cell: moved down by half the
// free height, then up by half a point.
QRectF middle_aligned_title_rect(const QRectF& cell, double text_height);

}  // namespace tavri
