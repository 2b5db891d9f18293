#include "main_window.h"

#include <QAction>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "core/named_images.h"
#include "players/player_status.h"
#include "widgets/tavri_defaults.h"

namespace tavri {

MainWindow::MainWindow(WindowControllers controllers, QWidget* parent)
    : QMainWindow(parent),
      c_(controllers),
      playlists_(std::make_unique<PlaylistsWindow>(c_.playlists, c_.playlist_editor)),
      content_(std::make_unique<ContentWindow>(c_.files)),
      map_(std::make_unique<MapWindow>(c_.players, c_.bus, c_.dialogs)),
      devices_(std::make_unique<PlayersWindow>(
          c_.players, [this] { map_->open_map(); },
          [this](const QVariant& id) {
            const RecordList& lists = c_.playlists.ArrayController_PLAYLIST();
            for (int i = 0; i < lists.size(); ++i)
              if (lists.at(i).value("id") == id) return lists.at(i).value("name").toString();
            return QString();
          })),
      schedule_(std::make_unique<SchedulesWindow>(c_.schedules, c_.schedule_editor, c_.bus)) {
  setObjectName("window");
  setWindowTitle("tavri AV server");
  auto* bar = addToolBar("tools");
  bar->setObjectName("view_tool_bar");
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setStyleSheet(QString("QToolBar { background: %1; border: none; spacing: 6px; }"
                             "QToolButton { color: %2; font-weight: bold; padding: 4px 10px; }"
                             "QToolButton:hover { background: %3; }")
                         .arg(tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_green().name(),
                              tavri_defaults::color_tavri_dark_gray().name()));
  const auto add = [&](const QString& name, const QString& text, const QString& image, auto slot) {
    QAction* a = bar->addAction(text.toUpper(), this, slot);
    a->setObjectName(name);
    if (!image.isEmpty()) a->setIcon(QIcon(QPixmap::fromImage(named_image(image))));
  };
  AppDelegate& app = c_.app;
  connect(&c_.players, &UDP_Feedback::map_state_loaded, this,
          [this] { QTimer::singleShot(0, this, [this] { apply_saved_map_state(); }); });
  add("open_window_playlist", "Playlists", "Icon_play", [&app] { app.open_window_playlist(); });
  add("open_window_content", "Content", "tavri_icon_file", [&app] { app.open_window_content(); });
  add("open_window_devices", "Players", "ICON_ONLINE", [&app] { app.open_window_devices(); });
  add("open_window_schedule", "Schedules", "icon_menue", [&app] { app.open_window_schedule(); });
  add("open_map", "Map", "ICON_OFFLINE", [this] { map_->open_map(); });
  bar->addSeparator();
  add("SAVE_ALL", "Save all", "Icon_send", [&app] { app.SAVE_ALL(); });
  add("export_all", "Export", "", [&app] { app.export_all(); });
  add("import_all", "Import", "", [&app] { app.import_all(); });

  // How many players answer, at a glance.
  auto* spacer = new QWidget(bar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  bar->addWidget(spacer);
  census_ = new QLabel(bar);
  census_->setObjectName("players_census");
  census_->setStyleSheet(QString("color: %1; font-weight: bold; padding: 0 10px;")
                             .arg(tavri_defaults::color_tavri_green().name()));
  bar->addWidget(census_);
  auto* census_clock = new QTimer(this);
  connect(census_clock, &QTimer::timeout, this, &MainWindow::show_census);
  census_clock->start(1000);
  show_census();

  auto* background = new QLabel(this);
  background->setObjectName("view_background");
  background->setAutoFillBackground(true);
  QPalette p = background->palette();
  p.setColor(QPalette::Window, tavri_defaults::color_tavri_dark_gray());
  background->setPalette(p);
  setCentralWidget(background);
  server_state_ = new QLabel(this);
  server_state_->setObjectName("server_state");
  statusBar()->setObjectName("status_bar");
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(server_state_, 1);
  last_command_ = new QLabel(this);
  last_command_->setObjectName("last_command");
  statusBar()->addPermanentWidget(last_command_);
  connect(&c_.players, &UDP_Feedback::last_command_changed, this, [this](const QString& text) {
    last_command_->setText(text);
    last_command_->setStyleSheet(text.contains(" not sent") ? QString("color: #c03020; font-weight: bold;")
                                                            : QString());
  });
  resize(900, 130);
}

void MainWindow::show_census() {
  const auto c = players::count_players(c_.players.ArrayController_DEVICES());
  census_->setText(QString("%1 online · %2 offline").arg(c.online).arg(c.offline));
}

void MainWindow::show_server_state(const QString& text) {
  server_state_->setText(text);
  // A line that says why nothing is served stands out.
  server_state_->setStyleSheet(text.startsWith("Serving") ? QString() : QString("color: #c03020; font-weight: bold;"));
}

AppDelegate::Windows MainWindow::tool_windows() {
  return {playlists_.get(), content_.get(), devices_.get(), schedule_.get()};
}

void MainWindow::apply_saved_map_state() {
  // Copied first: placing the window and the view records a new state.
  const MapState state = c_.players.map_state();
  if (state.frame.width() > 0 && state.frame.height() > 0) map_->set_frame(state.frame);
  map_->setScale(state.scale);
  map_->reload_map();
  map_->show_origin(state.origin);
  c_.players.map_state().origin = state.origin;
  c_.players.map_state().frame = state.frame.isEmpty() ? c_.players.map_state().frame : state.frame;
}

}  // namespace tavri
