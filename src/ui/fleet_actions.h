#pragma once
#include <QStringList>
#include <functional>

#include "core/dialogs.h"
#include "players/announcement.h"
#include "players/player_groups.h"
#include "players/udp_feedback.h"
#include "playlists/play_list.h"
#include "schedules/schedule.h"

namespace tavri {

// The desk's actions on groups and announcements, asked through Dialogs:
// each works on the players selected in the players table.
class FleetActions {
 public:
  FleetActions(UDP_Feedback& players, PlayerGroups& groups, Announcement& announcement, PlayList& playlists,
               Schedule& schedules, const RecordList& files, Dialogs& dialogs)
      : players_(players), groups_(groups), announcement_(announcement), playlists_(playlists),
        schedules_(schedules), files_(files), dialogs_(dialogs) {}

  // A group's players become the selection (what SEND and every command
  // go to); false when none was chosen.
  bool select_group();
  // The selected players join a group (a new one when asked), or leave one.
  void add_selected_to_group();
  void take_selected_out_of_group();
  void remove_group();
  // Asks what, to whom (the selection, a group or all; all is confirmed)
  // and for how long, then starts it; or ends the running one.
  void start_announcement();
  void end_announcement();
  // Asks which playlist or schedule the selected players load, and hands
  // it (schedule or not, its catalogue row) to `send`, which sends it as
  // the editors' SEND does.
  void load_list(const std::function<void(bool schedule, int row)>& send);

 private:
  // A group's name, asked; nothing when there is none or on Cancel.
  std::optional<QString> ask_group(const QString& message, bool offer_new);
  void tell(const Outcome& o);
  UDP_Feedback& players_;
  PlayerGroups& groups_;
  Announcement& announcement_;
  PlayList& playlists_;
  Schedule& schedules_;
  const RecordList& files_;  // the content list: its images are backgrounds
  Dialogs& dialogs_;
};

}  // namespace tavri
