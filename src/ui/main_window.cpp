#include "main_window.h"

#include "ui/audit_window.h"
#include "ui/desk_audit.h"

#include "core/local_day.h"
#include "playlists/now_playing.h"

#include <QAction>
#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QIODevice>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "core/folders.h"
#include "ui/named_images.h"
#include "core/undo_history.h"
#include "players/player_status.h"
#include "widgets/tavri_defaults.h"

namespace tavri {
namespace {
// A light red that keeps 4.5:1 on the status bar's grey.
constexpr char kWarningStyle[] = "color: #ffb0a0; font-weight: bold;";
constexpr char kDocksFile[] = "tavri_AV_SERVER_DOCKS.sav";
constexpr quint32 kDocksMagic = 0x74617664;  // "tavd"
}  // namespace

MainWindow::MainWindow(WindowControllers controllers, QWidget* parent)
    : QMainWindow(parent),
      c_(controllers),
      fleet_(c_.groups && c_.announcement ? std::make_unique<FleetActions>(c_.players, *c_.groups, *c_.announcement,
                                                                          c_.playlists, c_.schedules,
                                                                          c_.files.ArrayController_FILELIST(), c_.dialogs)
                                          : nullptr),
      playlists_(std::make_unique<PlaylistsWindow>(
          c_.playlists, c_.playlist_editor,
          fleet_ ? QList<Action>{{"send_to_group", "send to group",
                                  [this] {
                                    // The group becomes the selection SEND goes to, as the operator sees.
                                    if (fleet_->select_group()) c_.playlist_editor.send_to_device();
                                  },
                                  "Icon_send"}}
                 : QList<Action>{})),
      content_(std::make_unique<ContentWindow>(c_.files)),
      map_(std::make_unique<MapWindow>(c_.players, c_.bus, c_.dialogs)),
      devices_(std::make_unique<PlayersWindow>(
          c_.players, [this] { map_->open_map(); },
          [this](const QString& device_id, const QVariant& id) {
            return c_.players
                .list_shown(
                    device_id, id, [this](qint64 list) { return c_.playlists.name_of(list); },
                    [this](qint64 list) { return c_.schedules.catalogue().name_of(list); })
                .text();
          },
          [this](const QString& id) { return c_.history ? c_.history->uptime_24h(id) : QString(); }, player_extras())),
      schedule_(std::make_unique<SchedulesWindow>(c_.schedules, c_.schedule_editor, c_.bus, c_.dialogs)),
      history_(c_.history ? std::make_unique<HistoryWindow>(c_.players, *c_.history) : nullptr) {
  setObjectName("window");
  if (qApp && !qApp->styleSheet().contains("QScrollBar"))
    qApp->setStyleSheet(qApp->styleSheet() + tavri_defaults::scroll_bar_style() + tavri_defaults::dialog_style());
  setWindowTitle("tavri AV server");
  auto* bar = view_tool_bar_ = addToolBar("tools");
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
  QMenu* edit_menu = menuBar()->addMenu("&Edit");
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
    // What the file menu does changes the saved state: on record.
    if (menu == file_menu && name != "quit")
      connect(a, &QAction::triggered, this, [text, slot] { desk_audit::run(nullptr, text.toUpper(), slot); });
    else
      connect(a, &QAction::triggered, this, slot);
    menu->addAction(a);
    if (in_bar) bar->addAction(a);
    return a;
  };
  AppDelegate& app = c_.app;
  connect(&c_.players, &UDP_Feedback::map_state_loaded, this,
          [this] { QTimer::singleShot(0, this, [this] { apply_saved_map_state(); }); });
  // A pane's key shows and focuses it; pressed again it does not close it
  // (its title bar does).
  add(view_menu, true, "open_window_playlist", "Playlists", "Icon_play", "Show the playlists and their items",
      QKeySequence("Ctrl+1"), [this] { playlists_->bring_to_front(); });
  add(view_menu, true, "open_window_content", "Content", "tavri_icon_file", "Show the content folder",
      QKeySequence("Ctrl+2"), [this] { content_->bring_to_front(); });
  add(view_menu, true, "open_window_devices", "Players", "ICON_ONLINE", "Show the players and their commands",
      QKeySequence("Ctrl+3"), [this] { devices_->bring_to_front(); });
  add(view_menu, true, "open_window_schedule", "Schedules", "icon_menue", "Show the schedules and their tasks",
      QKeySequence("Ctrl+4"), [this] { schedule_->bring_to_front(); });
  add(view_menu, true, "open_map", "Map", "ICON_OFFLINE", "Show the players on the floor plan", QKeySequence("Ctrl+5"),
      [this] { map_->bring_to_front(); });
  bar->addSeparator();
  add(file_menu, true, "SAVE_ALL", "Save all", "Icon_send", "Save everything and publish every playlist and schedule",
      QKeySequence::Save, [&app] { app.SAVE_ALL(); });
  add(file_menu, true, "export_all", "Export", "", "Write all playlists and schedules to an archive",
      QKeySequence("Ctrl+E"), [&app] { app.export_all(); });
  add(file_menu, true, "import_all", "Import", "", "Read playlists and schedules from an exported archive",
      QKeySequence("Ctrl+I"), [&app] { app.import_all(); });
  if (c_.history) {
    file_menu->addSeparator();
    add(file_menu, false, "export_proof_of_play", "Export proof of play", "",
        "Every play of the selected players (or of all) in a date range, as CSV", QKeySequence(),
        [this] { c_.history->export_proof_of_play(c_.players.ArrayController_DEVICES().selected_records(), false); });
    add(file_menu, false, "export_play_totals", "Export play totals", "",
        "How often and how long each track played on each player, as CSV", QKeySequence(),
        [this] { c_.history->export_proof_of_play(c_.players.ArrayController_DEVICES().selected_records(), true); });
    add(view_menu, false, "open_history", "History", "", "Show the selected player's history",
        QKeySequence("Ctrl+6"), [this] { history_->bring_to_front(); });
    add(view_menu, false, "open_audit", "Audit", "", "Who changed what, here, in the web console and through the API",
        QKeySequence("Ctrl+7"), [this] { show_audit(); });
  }
  file_menu->addSeparator();
  add(file_menu, false, "quit", "Quit", "", "Save everything and quit", QKeySequence::Quit, [] { QApplication::quit(); });
  // Deletions of items, tasks, playlists and schedules, taken back one by one.
  auto* undo = new QAction("Undo", this);
  undo->setObjectName("undo");
  const auto show_undo = [undo] {
    undo->setEnabled(undo_history().canUndo());
    undo->setText(undo_history().canUndo() ? "Undo " + undo_history().undo_text() : QString("Undo"));
  };
  show_undo();
  connect(&undo_history(), &UndoHistory::changed, undo, show_undo);
  connect(undo, &QAction::triggered, this, [] { undo_history().undo(); });
  undo->setShortcut(QKeySequence::Undo);
  undo->setToolTip("Put back what was deleted last (Ctrl+Z)");
  edit_menu->addAction(undo);
  view_menu->addSeparator();
  add(view_menu, true, "reset_layout", "Reset layout", "", "Place every window as on first start", QKeySequence(),
      [this] { default_layout(); });
  add(developer_menu, false, "create_test_devices", "Test players", "", "Add ten made-up players to the list",
      QKeySequence(), [this] {
        // Made-up players land in the registry and are saved with it: asked first.
        if (c_.dialogs.alert("Add ten made-up players?",
                             "TEST_00 to TEST_09 join the player list and are saved with it; remove them with "
                             "\"remove\" when done.",
                             {"Cancel", "Add"}, 0) == 1)
          c_.players.create_test_devices();
      });

  // A line under the tool bar with a text and one button, hidden until needed.
  auto banner = [this](const char* name, QLabel*& text, const QString& button_colour) {
    addToolBarBreak();
    QToolBar* line = addToolBar(name);
    line->setObjectName(QString(name) + "_banner");
    line->setMovable(false);
    line->setStyleSheet(QString("QToolBar { background: %1; border: none; } QToolButton { color: %2; font-weight: bold; }")
                           .arg(tavri_defaults::color_tavri_gray().name(), button_colour));
    text = new QLabel(line);
    text->setObjectName(QString(name) + "_text");
    text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    line->addWidget(text);
    return line;
  };
  // Offline alerts, shown here even with no tray and no notification service.
  alert_bar_ = banner("alert", alert_, tavri_defaults::color_tavri_text().name());
  QAction* dismiss = alert_bar_->addAction("Dismiss");
  dismiss->setObjectName("dismiss_alert");
  dismiss->setToolTip("Hide this alert; the census on the right still counts the offline players");
  connect(dismiss, &QAction::triggered, alert_bar_, &QWidget::hide);
  alert_bar_->hide();

  // The running announcement, until it is ended here, elsewhere or by its time.
  announcement_bar_ = banner("announcement", announcement_, tavri_defaults::color_tavri_green().name());
  announcement_->setStyleSheet("QLabel { color: #ffd54f; font-weight: bold; padding: 4px 8px; }");
  QAction* end = announcement_bar_->addAction("End");
  end->setObjectName("end_announcement");
  end->setToolTip("End the announcement: every player gets back what it played before");
  connect(end, &QAction::triggered, this, [this] {
    if (fleet_) desk_audit::run(nullptr, "END ANNOUNCEMENT", [this] { fleet_->end_announcement(); });
  });
  announcement_bar_->hide();
  if (c_.announcement) {
    connect(c_.announcement, &Announcement::changed, this, &MainWindow::show_announcement);
    show_announcement();
  }

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

  // The tool windows and the map are panes of this window: docked, tabbed
  // or floating, as the operator arranges them.
  setDockOptions(AllowTabbedDocks | AllowNestedDocks | AnimatedDocks);
  // The arrangement is the operator's choice: kept when it changes, so a
  // crash or a power cut does not lose it.
  arrangement_saver_ = new Debounce(1000, 5000, [this] { save_dock_state(); }, this);
  setStyleSheet(QString("QMainWindow { background: %1; } QMainWindow::separator { background: %2; width: 4px; "
                        "height: 4px; } QDockWidget { color: %3; font-weight: bold; } QDockWidget::title { "
                        "background: %2; padding: 4px; } QTabBar::tab { background: %2; color: %3; padding: 4px 12px; }"
                        " QTabBar::tab:selected { background: %4; color: %5; }")
                    .arg(tavri_defaults::color_tavri_dark_gray().name(), tavri_defaults::color_tavri_gray().name(),
                         tavri_defaults::color_tavri_text().name(), tavri_defaults::color_tavri_green().name(),
                         tavri_defaults::color_tavri_text_on_select().name()));
  for (ToolWindowWidget* pane : std::initializer_list<ToolWindowWidget*>{
           playlists_.get(), content_.get(), devices_.get(), schedule_.get(), map_.get(), history_.get()}) {
    if (!pane) continue;
    auto* dock = new QDockWidget(pane->windowTitle(), this);
    dock->setObjectName("dock_" + pane->objectName());
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                      QDockWidget::DockWidgetFloatable);
    dock->setWidget(pane);
    connect(dock, &QDockWidget::visibilityChanged, pane, [pane](bool shown) { pane->set_in_front(shown); });
    for (auto changed : {&QDockWidget::topLevelChanged, &QDockWidget::visibilityChanged})
      connect(dock, changed, arrangement_saver_, &Debounce::touch);
    connect(dock, &QDockWidget::dockLocationChanged, arrangement_saver_, &Debounce::touch);
    dock->hide();
    docks_.push_back(dock);
  }
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
  const auto show_command = [this](const QString& text) {
    last_command_->setText(text);
    last_command_->setStyleSheet(text.contains(" not sent") ? QString(kWarningStyle) : QString());
  };
  connect(&c_.players, &UDP_Feedback::last_command_changed, this, show_command);
  // A button that did nothing says why, in the same place.
  connect(&c_.players, &UDP_Feedback::notice, this, show_command);
  c_.app.set_reporter([this](const QString& text) { statusBar()->showMessage(text, 15000); });
  resize(1200, 800);
}

MainWindow::~MainWindow() {
  c_.app.set_reporter([](const QString&) {});  // the controllers outlive the window
}

void MainWindow::default_layout() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen) default_layout(screen->availableGeometry());
}

void MainWindow::default_layout(const QRect& area) {
  constexpr int kTitleBar = 30;  // what a window manager adds above a window
  move(area.topLeft());
  resize(area.width() - (frameGeometry().width() - width()), area.height() - kTitleBar);
  for (QDockWidget* d : docks_) {
    d->setFloating(false);
    removeDockWidget(d);
  }
  QDockWidget* playlists = dock_of(playlists_.get());
  QDockWidget* content = dock_of(content_.get());
  QDockWidget* players = dock_of(devices_.get());
  QDockWidget* schedules = dock_of(schedule_.get());
  QDockWidget* map = dock_of(map_.get());
  // A short screen gives the players a column of their own, the map, the
  // history and the schedules as tabs beside them; a tall one shows the
  // four panes in quarters.
  const bool short_screen = area.height() < kTallScreen;
  view_tool_bar_->setToolButtonStyle(short_screen ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonTextUnderIcon);
  addDockWidget(Qt::LeftDockWidgetArea, playlists);
  splitDockWidget(playlists, short_screen ? players : content, Qt::Horizontal);
  if (short_screen) {
    splitDockWidget(playlists, content, Qt::Vertical);
    tabifyDockWidget(players, schedules);
  } else {
    splitDockWidget(content, schedules, Qt::Vertical);
    splitDockWidget(playlists, players, Qt::Vertical);
  }
  tabifyDockWidget(players, map);
  if (QDockWidget* history = dock_of(history_.get())) tabifyDockWidget(players, history);
  for (QDockWidget* d : docks_) d->show();
  players->raise();  // the players' tab in front
  const int half_width = width() / 2;
  if (short_screen) {
    resizeDocks({playlists, players}, {half_width, width() - half_width}, Qt::Horizontal);
    // The playlist items get the larger share of their column.
    resizeDocks({playlists, content}, {height() * 3 / 5, height() * 2 / 5}, Qt::Vertical);
  } else {
    resizeDocks({playlists, content}, {half_width, half_width}, Qt::Horizontal);
    // The players, watched the most, get the larger share of the height.
    const int top = height() / 3;
    resizeDocks({playlists, players}, {top, height() - top}, Qt::Vertical);
    resizeDocks({content, schedules}, {top, height() - top}, Qt::Vertical);
  }
}

QDockWidget* MainWindow::dock_of(QWidget* pane) const {
  for (QDockWidget* d : docks_)
    if (d->widget() == pane) return d;
  return nullptr;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  arrangement_saver_->touch();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  arrangement_saver_->touch();
}

void MainWindow::save_dock_state() const {
  QDir().mkpath(application_folder());
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << kDocksMagic << saveGeometry() << saveState();
  save_file_logged(application_folder() + "/" + kDocksFile, bytes, QString());
}

// A missing or foreign file leaves the default layout as it is.
bool MainWindow::restore_dock_state() {
  const auto bytes = read_file(application_folder() + "/" + kDocksFile);
  if (!bytes || bytes->isEmpty()) return false;
  QDataStream in(*bytes);
  quint32 magic = 0;
  QByteArray geometry, state;
  in >> magic >> geometry >> state;
  if (in.status() != QDataStream::Ok || magic != kDocksMagic) return false;
  if (!restoreGeometry(geometry) || !restoreState(state)) return false;
  // The banners were saved as they were then: what they say now decides.
  alert_bar_->setVisible(!alert_->text().isEmpty());
  announcement_bar_->setVisible(c_.announcement && c_.announcement->running());
  // A floating pane saved on another screen layout must stay within reach.
  for (QDockWidget* d : docks_)
    if (d->isFloating()) d->setGeometry(on_visible_screen(d->geometry()));
  return true;
}

void MainWindow::show_census() {
  const auto c = players::count_players(c_.players.ArrayController_DEVICES());
  census_->setText(QString("%1 online · %2 offline").arg(c.online).arg(c.offline));
}

void MainWindow::show_alert(const QString& title, const QString& text) {
  const bool back = title.contains(" back");
  alert_->setText(QString("%1: %2").arg(title, text));
  alert_->setStyleSheet(QString("QLabel { color: %1; font-weight: bold; padding: 4px 8px; }")
                            .arg(back ? tavri_defaults::color_tavri_green().name() : QString("#ff8a80")));
  alert_bar_->show();
}

PlayersWindow::Extras MainWindow::player_extras() {
  if (!fleet_) return {};
  PlayersWindow::Extras extras;
  connect(&c_.playlists.ArrayController_PLAYLIST(), &RecordList::changed, this, [this] { now_playing_.reset(); });
  extras.now_playing = [this](const Record& r) { return now_playing(r); };
  map_->set_now_playing([this](const Record& r) { return now_playing(r); });
  extras.groups = [this](const QString& id) { return c_.groups->groups_of(id).join(", "); };
  // The list chosen becomes the one the editor shows and sends: what the
  // operator sees is what goes.
  const auto send = [this](bool schedule, int row) {
    if (schedule) {
      c_.schedules.ArrayController_SCHEDULELIST().select_list_indices({row});
      c_.schedule_editor.send_to_device();
    } else {
      c_.playlists.ArrayController_PLAYLIST().select_list_indices({row});
      c_.playlist_editor.send_to_device();
    }
  };
  extras.actions = {{"load_playlist", "load playlist", [this, send] { fleet_->load_list(send); }, "Icon_send"},
                    {"select_group", "group", [this] { fleet_->select_group(); }},
                    {"add_to_group", "add to group", [this] { fleet_->add_selected_to_group(); }},
                    {"take_out_of_group", "take out of group", [this] { fleet_->take_selected_out_of_group(); }},
                    {"remove_group", "remove group", [this] { fleet_->remove_group(); }},
                    {"announce", "announce", [this] { fleet_->start_announcement(); }, "tavri_icon_attention"},
                    {"end_announcement", "end announcement", [this] { fleet_->end_announcement(); }}};
  return extras;
}

QString MainWindow::now_playing(const Record& r) {
  const QString id = r.value("device_id").toString();
  const ListShown list = c_.players.list_shown(
      id, r.value("id_playlist"), [this](qint64 l) { return c_.playlists.name_of(l); },
      [this](qint64 l) { return c_.schedules.catalogue().name_of(l); });
  // One reading of each playlist's items serves every cell and tooltip
  // until a playlist changes or the day does: the table repaints each second.
  if (!now_playing_ || now_playing_day_ != local_today()) {
    now_playing_day_ = local_today();
    now_playing_.emplace(&c_.playlists.ArrayController_PLAYLIST(), now_playing_day_);
  }
  return now_playing_->text(list.schedule, list.id, list.name, r.value("id_track").toString());
}

void MainWindow::show_announcement() {
  const Announcement& a = *c_.announcement;
  announcement_bar_->setVisible(a.running());
  if (!a.running()) return;
  announcement_->setText(QString("ANNOUNCEMENT: %1 to %2 (%3 players) since %4%5")
                             .arg(a.label(), a.targets().join(", "))
                             .arg(a.players().size())
                             .arg(a.started().toLocalTime().toString("HH:mm"))
                             .arg(a.ends().isValid() ? ", until " + a.ends().toLocalTime().toString("HH:mm") : ", until ended"));
}

QString MainWindow::announcement_text() const {
  return announcement_bar_->isVisible() ? announcement_->text() : QString();
}

QString MainWindow::alert_text() const { return alert_bar_->isVisible() ? alert_->text() : QString(); }

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

QWidget* MainWindow::audit_window() const { return audit_.get(); }

void MainWindow::show_audit() {
  if (!c_.history || !c_.history->store()) return;
  if (!audit_) audit_ = std::make_unique<AuditWindow>(*c_.history->store(), c_.dialogs, this);
  audit_->show();
  audit_->raise();
  audit_->reload();
}

}  // namespace tavri
