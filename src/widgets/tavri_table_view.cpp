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
  QRect text = rect.adjusted(4, 0, -4, 0);
  // The sorted column says so, and which way.
  if (isSortIndicatorShown() && sortIndicatorSection() == logical_index) {
    const QString arrow = sortIndicatorOrder() == Qt::AscendingOrder ? QStringLiteral("\u25B2") : QStringLiteral("\u25BC");
    painter->drawText(text, Qt::AlignVCenter | Qt::AlignRight, arrow);
    text.setRight(text.right() - painter->fontMetrics().horizontalAdvance(arrow) - 3);
  }
  painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft, painter->fontMetrics().elidedText(title, Qt::ElideRight, text.width()));
  painter->restore();
}

int tavri_header_view::title_width(const QString& title) const {
  const QFontMetrics metrics(tavri_defaults::font(tavri_defaults::fontname_bold(), tavri_defaults::float_title_height - 2));
  return metrics.horizontalAdvance(title.toUpper() + QStringLiteral(" \u25B2")) + 12;
}

void table_view_design::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  if (opt.state & QStyle::State_Selected) {
    painter->fillRect(opt.rect, tavri_defaults::color_tavri_green_select());
    opt.palette.setColor(QPalette::Text, tavri_defaults::color_tavri_text_on_select());
  }
  // Where the keyboard is: a frame around the current cell while the table has the focus.
  const bool focused = (opt.state & QStyle::State_HasFocus) && opt.widget && opt.widget->hasFocus();
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
  if (focused) {
    painter->save();
    painter->setPen(QPen(QColor(0xe3, 0x74, 0x00), 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(opt.rect).adjusted(1, 1, -1, -1));
    painter->restore();
  }
}

tavri_table_view::tavri_table_view(QWidget* parent) : QTableView(parent) {
  setHorizontalHeader(new tavri_header_view(this));
  setItemDelegate(new table_view_design(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  // Tab leaves the table for the next control, as everywhere else; the
  // arrow keys move within it.
  setTabKeyNavigation(false);
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
