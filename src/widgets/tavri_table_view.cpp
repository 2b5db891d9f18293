#include "tavri_table_view.h"

#include <QPainter>

#include "tavri_defaults.h"

namespace tavri {

tavri_header_view::tavri_header_view(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setFixedHeight(static_cast<int>(tavri_defaults::float_title_height) + 8);
  setSectionsClickable(true);
  setHighlightSections(false);
}

void tavri_header_view::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
  painter->save();
  painter->fillRect(rect, tavri_defaults::color_tavri_gray());
  painter->setPen(tavri_defaults::color_tavri_dark_gray());
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->setFont(tavri_defaults::font(tavri_defaults::fontname_bold(), tavri_defaults::float_title_height - 2));
  painter->setPen(tavri_defaults::color_tavri_green());
  const QString title = model() ? model()->headerData(logical_index, orientation()).toString().toUpper() : QString();
  painter->drawText(rect.adjusted(4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
  painter->restore();
}

void table_view_design::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  if (opt.state & QStyle::State_Selected) {
    painter->fillRect(opt.rect, tavri_defaults::color_tavri_green_select());
    opt.palette.setColor(QPalette::Text, tavri_defaults::color_tavri_text_on_select());
  }
  opt.state &= ~QStyle::State_Selected;
  opt.state &= ~QStyle::State_HasFocus;
  opt.displayAlignment = (opt.displayAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
  // A check box of our own: the style's, drawn in the row's text colour,
  // vanished on a selected row.
  QRect box;
  if (opt.features & QStyleOptionViewItem::HasCheckIndicator) {
    box = opt.widget->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, opt.widget);
    opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;
  }
  // Painted from the prepared option: the base class would re-read the state.
  opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
  if (box.isValid()) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(box).adjusted(1.5, 1.5, -1.5, -1.5);
    painter->setPen(QPen(tavri_defaults::color_tavri_text(), 1.5));
    painter->setBrush(tavri_defaults::color_tavri_dark_gray());
    painter->drawRect(r);
    if (opt.checkState == Qt::Checked) {
      painter->setPen(QPen(tavri_defaults::color_tavri_green(), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      painter->drawPolyline(QPolygonF{r.topLeft() + QPointF(r.width() * 0.2, r.height() * 0.5),
                                      r.topLeft() + QPointF(r.width() * 0.42, r.height() * 0.75),
                                      r.topLeft() + QPointF(r.width() * 0.82, r.height() * 0.25)});
    }
    painter->restore();
  }
}

tavri_table_view::tavri_table_view(QWidget* parent) : QTableView(parent) {
  setHorizontalHeader(new tavri_header_view(this));
  setItemDelegate(new table_view_design(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setShowGrid(true);
  setAlternatingRowColors(false);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(26);
  horizontalHeader()->setStretchLastSection(true);
  setStyleSheet(QString("QTableView { background: transparent; gridline-color: %1; color: %2; border: none; }")
                    .arg(tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_text().name()));
}

QRectF middle_aligned_title_rect(const QRectF& cell, double text_height) {
  QRectF r = cell;
  r.translate(0, (cell.height() - text_height) / 2.0 - 0.5);
  r.setHeight(text_height);
  return r;
}

}  // namespace tavri
