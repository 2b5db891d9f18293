#pragma once
#include <QBoxLayout>
#include <QString>
#include <functional>

#include "widgets/tavri_button.h"

namespace tavri {

// A styled button named after its action, with an optional named image.
tavri_button* action_button(QWidget* parent, const QString& object_name, const QString& title,
                            std::function<void()> action, const QString& image = {});

// A wrapping row of action buttons: {object name, title, action, image}.
struct Action {
  QString name, title;
  std::function<void()> run;
  QString image = {};
};
QWidget* button_panel(QWidget* parent, const QList<Action>& actions, int columns = 4);

// A titled column: the title, a table (created by make_table inside the
// pane) and its buttons below.
QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions, int columns = 4);

}  // namespace tavri
