#include "main_window.h"

#include <QAction>
#include <QLabel>
#include <QToolBar>

namespace tavri {

MainWindow::MainWindow(AppDelegate& app, QWidget* parent)
    : QMainWindow(parent),
      app_(app),
      playlists_(std::make_unique<ToolWindowWidget>("WINDOW_PLAYLISTS", "Playlists")),
      content_(std::make_unique<ToolWindowWidget>("WINDOW_CONTENTLIST", "Content")),
      devices_(std::make_unique<ToolWindowWidget>("WINDOW_DEVICELIST", "Players")),
      schedule_(std::make_unique<ToolWindowWidget>("WINDOW_SCHEDULE", "Schedules")) {
  setObjectName("window");
  setWindowTitle("tavri AV server");
  auto* bar = addToolBar("tools");
  bar->setObjectName("view_tool_bar");
  bar->setMovable(false);
  const auto add = [&](const QString& name, const QString& text, auto slot) {
    QAction* a = bar->addAction(text, this, slot);
    a->setObjectName(name);
  };
  add("open_window_playlist", "Playlists", [this] { app_.open_window_playlist(); });
  add("open_window_content", "Content", [this] { app_.open_window_content(); });
  add("open_window_devices", "Players", [this] { app_.open_window_devices(); });
  add("open_window_schedule", "Schedules", [this] { app_.open_window_schedule(); });
  bar->addSeparator();
  add("SAVE_ALL", "Save all", [this] { app_.SAVE_ALL(); });
  add("export_all", "Export", [this] { app_.export_all(); });
  add("import_all", "Import", [this] { app_.import_all(); });

  auto* background = new QLabel(this);
  background->setObjectName("view_background");
  background->setAutoFillBackground(true);
  QPalette p = background->palette();
  p.setColor(QPalette::Window, QColor(50, 50, 50));
  background->setPalette(p);
  setCentralWidget(background);
  resize(900, 120);
}

AppDelegate::Windows MainWindow::tool_windows() {
  return {playlists_.get(), content_.get(), devices_.get(), schedule_.get()};
}

}  // namespace tavri
