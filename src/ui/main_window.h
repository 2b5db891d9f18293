#pragma once
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QToolBar>
#include <memory>
#include <optional>

#include "content_window.h"
#include "fleet_actions.h"
#include "playlists/now_playing.h"
#include "history_window.h"
#include "core/app_delegate.h"
#include "core/debounce.h"
#include "map_window.h"
#include "players_window.h"
#include "playlists_window.h"
#include "schedules_window.h"

namespace tavri {

// What the windows show and drive.
struct WindowControllers {
  AppDelegate& app;
  FileList& files;
  PlayList& playlists;
  display_playlist& playlist_editor;
  Schedule& schedules;
  Schedule_View& schedule_editor;
  UDP_Feedback& players;
  Bus& bus;
  Dialogs& dialogs;
  history::HistoryService* history = nullptr;  // no history pane without it
  // No groups, announcements or "now playing" without them.
  PlayerGroups* groups = nullptr;
  Announcement* announcement = nullptr;
};

// The main window with its tool bar, the four tool windows and the map.
class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(WindowControllers controllers, QWidget* parent = nullptr);
  ~MainWindow() override;

  AppDelegate::Windows tool_windows();
  PlaylistsWindow* playlists() { return playlists_.get(); }
  ContentWindow* content() { return content_.get(); }
  PlayersWindow* devices() { return devices_.get(); }
  SchedulesWindow* schedule() { return schedule_.get(); }
  MapWindow* map() { return map_.get(); }
  HistoryWindow* history() { return history_.get(); }
  // After loading: the map takes its saved frame and scale.
  void apply_saved_map_state();
  // The first-start places, and "Reset layout": this window fills the area,
  // the four tool windows are docked in a 2 x 2 grid, the map is a tab
  // behind the players.
  void default_layout(const QRect& area);
  void default_layout();  // on the screen this window is on
  // The docks' arrangement, kept beside the saved window frames.
  void save_dock_state() const;
  bool restore_dock_state();
  QDockWidget* dock_of(QWidget* pane) const;
  // The content server's state line at the foot of the window.
  void show_server_state(const QString& text);
  // An offline alert in the window itself, whatever the desktop offers:
  // a banner under the tool bar until dismissed or the players are back.
  void show_alert(const QString& title, const QString& text);
  QString alert_text() const;
  // The running announcement under the tool bar, with its End button.
  QString announcement_text() const;
  // Who changed what: the audit, filtered by person, operation and time.
  void show_audit();
  QWidget* audit_window() const;

 private:
  WindowControllers c_;
  std::unique_ptr<FleetActions> fleet_;
  std::unique_ptr<class AuditWindow> audit_;
  std::unique_ptr<PlaylistsWindow> playlists_;
  std::unique_ptr<ContentWindow> content_;
  std::unique_ptr<MapWindow> map_;
  std::unique_ptr<PlayersWindow> devices_;
  std::unique_ptr<SchedulesWindow> schedule_;
  std::unique_ptr<HistoryWindow> history_;
  void show_census();
  std::vector<QDockWidget*> docks_;
  QLabel* server_state_ = nullptr;
  QLabel* census_ = nullptr;
  QToolBar* alert_bar_ = nullptr;
  QToolBar* announcement_bar_ = nullptr;
  QLabel* announcement_ = nullptr;
  void show_announcement();
  PlayersWindow::Extras player_extras();
  QString now_playing(const Record& player);
  std::optional<NowPlaying> now_playing_;
  QDate now_playing_day_;
  QLabel* alert_ = nullptr;
  QToolBar* view_tool_bar_ = nullptr;
  // Below this height the default layout gives the players a column.
  static constexpr int kTallScreen = 1000;
  QLabel* last_command_ = nullptr;
  Debounce* arrangement_saver_ = nullptr;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
};

}  // namespace tavri
