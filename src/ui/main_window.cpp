#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "core/named_images.h"
#include "players/player_status.h"
#include "widgets/tavri_defaults.h"

namespace tavri {
namespace {
// A light red that keeps 4.5:1 on the status bar's grey.
constexpr char kWarningStyle[] = "color: #ffb0a0; font-weight: bold;";
}  // namespace

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
  if (qApp && !qApp->styleSheet().contains("QScrollBar"))
    qApp->setStyleSheet(qApp->styleSheet() + tavri_defaults::scroll_bar_style());
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
  // Every action is in the menu bar, with its shortcut and a tooltip; the
  // everyday ones are in the tool bar too.
  menuBar()->setStyleSheet(
      QString("QMenuBar { background: %1; color: %2; } QMenuBar::item:selected { background: %3; }"
              "QMenu { background: %1; color: %2; } QMenu::item:selected { background: %3; color: %4; }")
          .arg(tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_text().name(),
               tavri_defaults::color_tavri_green().name(), tavri_defaults::color_tavri_text_on_select().name()));
  QMenu* file_menu = menuBar()->addMenu("&File");
  QMenu* view_menu = menuBar()->addMenu("&View");
  QMenu* developer_menu = menuBar()->addMenu("&Developer");
  const auto add = [&](QMenu* menu, bool in_bar, const QString& name, const QString& text, const QString& image,
                       const QString& tip, const QKeySequence& keys, auto slot) {
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    a->setIconText(text.toUpper());
    a->setShortcut(keys);
    a->setToolTip(keys.isEmpty() ? tip : QString("%1 (%2)").arg(tip, keys.toString(QKeySequence::NativeText)));
    a->setStatusTip(tip);
    if (!image.isEmpty()) a->setIcon(QIcon(QPixmap::fromImage(named_image(image))));
    connect(a, &QAction::triggered, this, slot);
    menu->addAction(a);
    if (in_bar) bar->addAction(a);
    return a;
  };
  AppDelegate& app = c_.app;
  connect(&c_.players, &UDP_Feedback::map_state_loaded, this,
          [this] { QTimer::singleShot(0, this, [this] { apply_saved_map_state(); }); });
  add(view_menu, true, "open_window_playlist", "Playlists", "Icon_play", "Show the playlists and their items",
      QKeySequence("Ctrl+1"), [&app] { app.open_window_playlist(); });
  add(view_menu, true, "open_window_content", "Content", "tavri_icon_file", "Show the content folder",
      QKeySequence("Ctrl+2"), [&app] { app.open_window_content(); });
  add(view_menu, true, "open_window_devices", "Players", "ICON_ONLINE", "Show the players and their commands",
      QKeySequence("Ctrl+3"), [&app] { app.open_window_devices(); });
  add(view_menu, true, "open_window_schedule", "Schedules", "icon_menue", "Show the schedules and their tasks",
      QKeySequence("Ctrl+4"), [&app] { app.open_window_schedule(); });
  add(view_menu, true, "open_map", "Map", "ICON_OFFLINE", "Show the players on the floor plan", QKeySequence("Ctrl+5"),
      [this] { map_->open_map(); });
  bar->addSeparator();
  add(file_menu, true, "SAVE_ALL", "Save all", "Icon_send", "Save everything and publish every playlist and schedule",
      QKeySequence::Save, [&app] { app.SAVE_ALL(); });
  add(file_menu, true, "export_all", "Export", "", "Write all playlists and schedules to an archive",
      QKeySequence("Ctrl+E"), [&app] { app.export_all(); });
  add(file_menu, true, "import_all", "Import", "", "Read playlists and schedules from an exported archive",
      QKeySequence("Ctrl+I"), [&app] { app.import_all(); });
  file_menu->addSeparator();
  add(file_menu, false, "quit", "Quit", "", "Save everything and quit", QKeySequence::Quit, [] { QApplication::quit(); });
  view_menu->addSeparator();
  add(view_menu, true, "reset_layout", "Reset layout", "", "Place every window as on first start", QKeySequence(),
      [this] { default_layout(); });
  add(developer_menu, false, "create_test_devices", "Test players", "", "Add ten made-up players to the list",
      QKeySequence(), [this] { c_.players.create_test_devices(); });

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
  statusBar()->setStyleSheet(QString("QStatusBar { background: %1; color: %2; } QStatusBar QLabel { color: %2; }")
                                 .arg(tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_text().name()));
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(server_state_, 1);
  last_command_ = new QLabel(this);
  last_command_->setObjectName("last_command");
  statusBar()->addPermanentWidget(last_command_);
  connect(&c_.players, &UDP_Feedback::last_command_changed, this, [this](const QString& text) {
    last_command_->setText(text);
    last_command_->setStyleSheet(text.contains(" not sent") ? QString(kWarningStyle) : QString());
  });
  resize(900, 130);
}

void MainWindow::default_layout() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen) default_layout(screen->availableGeometry());
}

void MainWindow::default_layout(const QRect& area) {
  constexpr int kTitleBar = 30;  // what a window manager adds above each window
  const int main_height = std::max(sizeHint().height(), 130);
  move(area.topLeft());
  resize(area.width() - (frameGeometry().width() - this->width()), main_height);
  const int top = area.top() + main_height + kTitleBar;
  const int width = area.width() / 2;
  const int height = (area.bottom() + 1 - top) / 2 - kTitleBar;
  int i = 0;
  for (QWidget* w : std::initializer_list<QWidget*>{playlists_.get(), content_.get(), devices_.get(), schedule_.get()}) {
    w->show();
    // move() places the frame, resize() the inside: the frame's own edges count.
    const int edges = w->frameGeometry().width() - w->width();
    w->move(area.left() + (i % 2) * width, top + (i / 2) * (height + kTitleBar));
    w->resize(width - edges, height);
    ++i;
  }
  const QSize map(std::min(1000, area.width()), std::min(700, area.height() - kTitleBar));
  map_->move(area.left() + (area.width() - map.width()) / 2, area.top() + kTitleBar);
  map_->resize(map);
}

void MainWindow::show_census() {
  const auto c = players::count_players(c_.players.ArrayController_DEVICES());
  census_->setText(QString("%1 online · %2 offline").arg(c.online).arg(c.offline));
}

void MainWindow::show_server_state(const QString& text) {
  server_state_->setText(text);
  // A line that says why nothing is served stands out.
  server_state_->setStyleSheet(text.startsWith("Serving") ? QString() : QString(kWarningStyle));
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
