#pragma once
#include <QBoxLayout>
#include <QWidget>
#include <QString>
#include <functional>

#include "widgets/tavri_button.h"

namespace tavri {

// A styled button named after its action, with an optional named image.
tavri_button* action_button(QWidget* parent, const QString& object_name, const QString& title,
                            std::function<void()> action, const QString& image = {});

// A wrapping row of action buttons: {object name, title, action, image}.
// What the button of that action does, in a sentence; empty if unknown.
QString action_tooltip(const QString& action_name);

struct Action {
  QString name, title;
  std::function<void()> run;
  QString image = {};
};
QWidget* button_panel(QWidget* parent, const QList<Action>& actions, int columns = 4);

// Buttons in rows of up to max_columns, fewer when the pane is narrow: a
// button is never narrower than its text, the rows grow instead, and a pane
// too short for all rows scrolls them (button_panel wraps it so).
class ButtonPanel : public QWidget {
 public:
  ButtonPanel(QWidget* parent, int max_columns);
  void add(QWidget* button);
  int columns_for(int width) const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  int row_height() const { return cell_height() + kSpacing; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  static constexpr int kSpacing = 4;
  int cell_width() const;
  int cell_height() const;
  void place();
  QList<QWidget*> buttons_;
  int max_columns_;
};

class RecordTable;
// What rows dragged out of the content and playlist item tables carry.
inline constexpr char kContentRowsMime[] = "application/x-tavri-content-rows";
inline constexpr char kItemRowsMime[] = "application/x-tavri-playlist-item-rows";
// A search field that filters the table as the operator types.
QWidget* filter_field(QWidget* parent, RecordTable* table, const QString& object_name);

// A titled column: the title, a table (created by make_table inside the
// pane) and its buttons below.
QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions, int columns = 4);

}  // namespace tavri
