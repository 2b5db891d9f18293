#include "window_parts.h"

#include <algorithm>

#include <QResizeEvent>
#include <QLineEdit>
#include <QScrollArea>

#include "record_table.h"
#include "widgets/tavri_defaults.h"

#include <QGridLayout>

#include "core/named_images.h"
#include "widgets/tavri_text.h"

namespace tavri {

tavri_button* action_button(QWidget* parent, const QString& object_name, const QString& title,
                            std::function<void()> action, const QString& image) {
  auto* button = new tavri_button(title, parent, image.isEmpty() ? QImage() : named_image(image));
  button->setObjectName(object_name);
  button->setMinimumHeight(30);
  QObject::connect(button, &QPushButton::clicked, button, [action = std::move(action)] { action(); });
  return button;
}

namespace {
// Shows the panel whole when there is room, and scrolls its rows when not.
class ButtonScroller : public QScrollArea {
 public:
  ButtonScroller(QWidget* parent, ButtonPanel* panel) : QScrollArea(parent), panel_(panel) {
    setWidget(panel);
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setStyleSheet("QScrollArea { background: transparent; } QScrollArea > QWidget > QWidget { background: transparent; }");
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }
  QSize sizeHint() const override { return panel_->sizeHint(); }
  // Two rows at least; the rest scrolls.
  QSize minimumSizeHint() const override {
    return {panel_->minimumSizeHint().width(), std::min(panel_->sizeHint().height(), 2 * panel_->row_height())};
  }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override { return panel_->heightForWidth(width); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    const int width = viewport()->width();
    panel_->resize(width, panel_->heightForWidth(width));
  }

 private:
  ButtonPanel* panel_;
};
}  // namespace

QWidget* button_panel(QWidget* parent, const QList<Action>& actions, int columns) {
  auto* panel = new ButtonPanel(nullptr, columns);
  for (const Action& a : actions) panel->add(action_button(panel, a.name, a.title, a.run, a.image));
  return new ButtonScroller(parent, panel);
}

ButtonPanel::ButtonPanel(QWidget* parent, int max_columns) : QWidget(parent), max_columns_(std::max(1, max_columns)) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void ButtonPanel::add(QWidget* button) {
  button->setParent(this);
  buttons_.append(button);
  updateGeometry();
  place();
}

int ButtonPanel::cell_width() const {
  int widest = 0;
  for (const QWidget* b : buttons_) widest = std::max(widest, b->sizeHint().width());
  return widest;
}

int ButtonPanel::cell_height() const {
  int tallest = 0;
  for (const QWidget* b : buttons_) tallest = std::max({tallest, b->sizeHint().height(), b->minimumHeight()});
  return tallest;
}

int ButtonPanel::columns_for(int width) const {
  const int cell = std::max(1, cell_width());
  return std::clamp((width + kSpacing) / (cell + kSpacing), 1, max_columns_);
}

int ButtonPanel::heightForWidth(int width) const {
  if (buttons_.isEmpty()) return 0;
  const int columns = columns_for(width);
  const int rows = (static_cast<int>(buttons_.size()) + columns - 1) / columns;
  return rows * cell_height() + (rows - 1) * kSpacing;
}

QSize ButtonPanel::sizeHint() const {
  const int columns = std::min<int>(max_columns_, std::max<qsizetype>(1, buttons_.size()));
  const int width = columns * cell_width() + (columns - 1) * kSpacing;
  return {width, heightForWidth(width)};
}

// Three buttons a row at the narrowest.
QSize ButtonPanel::minimumSizeHint() const {
  const int columns = std::min<int>(3, std::max<qsizetype>(1, buttons_.size()));
  const int width = std::min(columns, max_columns_) * (cell_width() + kSpacing) - kSpacing;
  return {width, heightForWidth(width)};
}

void ButtonPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  place();
}

void ButtonPanel::place() {
  if (buttons_.isEmpty()) return;
  const int columns = columns_for(width());
  const int w = std::max(cell_width(), (width() - (columns - 1) * kSpacing) / columns);
  const int h = cell_height();
  for (int i = 0; i < buttons_.size(); ++i)
    buttons_[i]->setGeometry((i % columns) * (w + kSpacing), (i / columns) * (h + kSpacing), w, h);
}

QWidget* filter_field(QWidget* parent, RecordTable* table, const QString& object_name) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(object_name);
  field->setPlaceholderText("Filter (name, kind, state ...)");
  field->setClearButtonEnabled(true);
  field->setToolTip("Shows only the rows that contain this text");
  field->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; padding: 2px 4px; }")
                           .arg(tavri_defaults::color_tavri_dark_gray().name(), tavri_defaults::color_tavri_text().name(),
                                tavri_defaults::color_tavri_gray().name()));
  QObject::connect(field, &QLineEdit::textChanged, table, &RecordTable::set_filter);
  return field;
}

QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions, int columns) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new tavri_title_text(title, pane));
  QWidget* table = make_table(pane);
  if (auto* records = qobject_cast<RecordTable*>(table))
    layout->addWidget(filter_field(pane, records, table->objectName() + "_filter"));
  layout->addWidget(table, 1);
  layout->addWidget(button_panel(pane, actions, columns));
  return pane;
}

}  // namespace tavri
