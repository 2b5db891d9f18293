#pragma once
#include <QString>
#include <functional>

#include "bus.h"
#include "dialogs.h"
#include "outcome.h"
#include "tool_window.h"

namespace tavri {

// Drives start-up and quit, toggles the four tool windows, saves their
// frames, and exports or imports the playlist and schedule catalogues.
class AppDelegate {
 public:
  AppDelegate(Bus& bus, Dialogs& dialogs);

  struct Windows {
    ToolWindow* playlists = nullptr;   // WINDOW_PLAYLISTS
    ToolWindow* content = nullptr;     // WINDOW_CONTENTLIST
    ToolWindow* devices = nullptr;     // WINDOW_DEVICELIST
    ToolWindow* schedule = nullptr;    // WINDOW_SCHEDULE
  };
  void set_windows(const Windows& windows) { windows_ = windows; }
  // Without a screen there are no windows whose places to keep: the file
  // the window saves them in is left as it is.
  void set_headless() { headless_ = true; }
  // Where save all, export and import say how they ended (the window's status line).
  void set_reporter(std::function<void(const QString&)> report) { report_ = std::move(report); }

  void applicationDidFinishLaunching();
  void applicationWillTerminate();
  void SAVE_ALL();
  // The same saves, handed to the background writer without waiting for them.
  void save_all_queued();

  void open_window_devices() { toggle(windows_.devices); }
  void open_window_schedule() { toggle(windows_.schedule); }
  void open_window_playlist() { toggle(windows_.playlists); }
  void open_window_content() { toggle(windows_.content); }

  // Window layout file.
  void save();
  void load();

  void export_all();
  void import_all();
  // The two catalogues as their files hold them now, as one export; what
  // is not yet saved is not in it.
  QByteArray export_archive() const;
  // Writes an export's catalogues over the saved ones, then every list is
  // reloaded. `strict`: an entry that is not one of the two catalogues
  // refuses the whole import instead of being skipped. `from` names the
  // bytes in the console.
  Outcome import_archive(const QByteArray& bytes, const QString& from, bool strict);

 private:
  void toggle(ToolWindow* window);
  // Waits for the background writer (bounded), with a console line past a second.
  void wait_for_saves();
  static constexpr int kLongestSaveWaitMs = 120000;

  Bus& bus_;
  Dialogs& dialogs_;
  Windows windows_;
  bool headless_ = false;
  std::function<void(const QString&)> report_ = [](const QString&) {};
};

}  // namespace tavri
