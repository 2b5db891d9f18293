#pragma once
#include <QSplitter>
#include <utility>

namespace tavri {

// A split view whose divider keeps 200 points from either end: a view of
// 400 points or less leaves it no room to move.
class tavri_splitt_view : public QSplitter {
  Q_OBJECT
 public:
  static constexpr int kMargin = 200;
  explicit tavri_splitt_view(Qt::Orientation orientation, QWidget* parent = nullptr) : QSplitter(orientation, parent) {
    setChildrenCollapsible(false);
    setHandleWidth(4);
  }
  // The allowed divider range for a proposed one.
  static std::pair<int, int> limits(int proposed_min, int proposed_max) {
    return {proposed_min + kMargin, proposed_max - kMargin};
  }
  void addWidget(QWidget* widget) {
    if (orientation() == Qt::Horizontal) widget->setMinimumWidth(kMargin);
    else widget->setMinimumHeight(kMargin);
    QSplitter::addWidget(widget);
  }
};

}  // namespace tavri
