#pragma once
#include <QMainWindow>
#include <memory>

#include "core/app_delegate.h"
#include "tool_window_widget.h"

namespace tavri {

// The main window with its tool bar, and the four tool windows.
class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(AppDelegate& app, QWidget* parent = nullptr);

  AppDelegate::Windows tool_windows();
  ToolWindowWidget* playlists() { return playlists_.get(); }
  ToolWindowWidget* content() { return content_.get(); }
  ToolWindowWidget* devices() { return devices_.get(); }
  ToolWindowWidget* schedule() { return schedule_.get(); }

 private:
  AppDelegate& app_;
  std::unique_ptr<ToolWindowWidget> playlists_, content_, devices_, schedule_;
};

}  // namespace tavri
