#include "window_parts.h"

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

QWidget* button_panel(QWidget* parent, const QList<Action>& actions, int columns) {
  auto* panel = new QWidget(parent);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(4);
  for (int i = 0; i < actions.size(); ++i) {
    const Action& a = actions[i];
    grid->addWidget(action_button(panel, a.name, a.title, a.run, a.image), i / columns, i % columns);
  }
  return panel;
}

QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions, int columns) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new tavri_title_text(title, pane));
  layout->addWidget(make_table(pane), 1);
  layout->addWidget(button_panel(pane, actions, columns));
  return pane;
}

}  // namespace tavri
