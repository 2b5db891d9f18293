#pragma once
#include <QFile>

#include "content/file_list.h"
#include "history/history_service.h"
#include "history/history_store.h"
#include "core/app_delegate.h"
#include "core/local_day.h"
#include "core/movielist.h"
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/main_queue.h"
#include "notify/alert_router.h"
#include "notify/notifier.h"
#include "players/announcement.h"
#include "players/player_groups.h"
#include "players/udp_feedback.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"
#include "server/server.h"

namespace tavri {

// Every controller, created in this order so that each name's observers
// are registered in a fixed order ("LOAD": Schedule, FileList,
// UDP_Feedback, PlayList).
struct Controllers {
  // Tests give the players' network loopback ports.
  explicit Controllers(Bus& bus, Dialogs& dialogs, PlayerNetworkConfig players = {})
      : schedule(bus, dialogs),
        schedule_view(bus, dialogs),
        file_list(bus, dialogs),
        udp_feedback(bus, dialogs, &file_list.ArrayController_FILELIST(), std::move(players)),
        playlist_editor(bus, dialogs),
        server(bus, dialogs),
        playlists(bus, dialogs),
        app(bus, dialogs),
        history(udp_feedback, dialogs,
                [this](const QString& device_id, const QString& id) { return list_name(device_id, id); }),
        groups(application_folder() + "/" + kGroupsFile),
        announcement(udp_feedback, [this](bool s, qint64 id) { return find_list(s, id); },
                     application_folder() + "/" + kAnnouncementFile),
        notifier(QFile::encodeName(application_folder() + "/" + kNotificationsFile).toStdString()),
        alert_router(notifier, udp_feedback, groups) {
    groups.load();
    announcement.load();
    // Each player's history tells when an announcement interrupted it.
    auto note_announcement = [this](const QString& what, const QStringList& ids) {
      history::HistoryStore* store = history.store();
      if (!store) return;
      const qint64 now = QDateTime::currentMSecsSinceEpoch();
      for (const QString& id : ids) store->record(history::Event{now, id, "announcement", what});
    };
    QObject::connect(&announcement, &Announcement::began, &announcement,
                     [note_announcement](const QString& l, const QStringList& ids) { note_announcement("started: " + l, ids); });
    QObject::connect(&announcement, &Announcement::finished, &announcement,
                     [note_announcement](const QString& l, const QStringList& ids) { note_announcement("ended: " + l, ids); });
    QObject::connect(&udp_feedback, &UDP_Feedback::players_removed, &groups, &PlayerGroups::forget_players);
    // Outages, failed commands and failing storage reach mail and webhooks.
    history.set_alert_listener([this](const history::OfflineAlerts::Alert& a) { alert_router.outage(a); });
    set_console_watch([router = &alert_router](const QString& line) {
      if (line.startsWith("content folder not reachable") || line.contains("SAVE ERROR"))
        post_to(router, [router, line] { router->console_line(line); });
    });
    file_list.set_playlists(&playlists.ArrayController_PLAYLIST());
    playlist_editor.attach(&playlists, &file_list.ArrayController_FILELIST());
    schedule_view.attach(&schedule, &playlists, &file_list.ArrayController_FILELIST());
    playlists.set_users(&schedule_view);
    // A new list does not take the id of one a player still plays.
    const auto in_use = [this] { return udp_feedback.lists_in_use(); };
    playlists.catalogue().set_ids_in_use(in_use);
    schedule.catalogue().set_ids_in_use(in_use);
    // Feedback names only ids: a new list under an old id is not what the
    // players sent the old one play.
    playlists.catalogue().set_on_id_taken([this](qint64 id) { udp_feedback.list_id_taken(id); });
    udp_feedback.set_track_count([this](const QString& device_id, const QVariant& id) {
      const ListShown list = list_shown(device_id, id);
      const int i = list.schedule ? -1 : playlists.catalogue().index_of(list.id.toLongLong());
      return i < 0 ? -1 : static_cast<int>(published_items(playlists.catalogue().list().at(i), local_today()).size());
    });
  }

  ~Controllers() { set_console_watch(nullptr); }

  // What a player's reported list is shown as (UDP_Feedback::list_shown).
  ListShown list_shown(const QString& device_id, const QVariant& id) {
    return udp_feedback.list_shown(
        device_id, id, [this](qint64 list) { return playlists.name_of(list); },
        [this](qint64 list) { return schedule.catalogue().name_of(list); });
  }
  // A playlist or schedule record by id, as the catalogue holds it now.
  std::optional<Record> find_list(bool is_schedule, qint64 id) {
    const Catalogue& catalogue = is_schedule ? schedule.catalogue() : playlists.catalogue();
    const int i = catalogue.index_of(id);
    if (i < 0) return std::nullopt;
    return is_schedule ? schedule.ArrayController_SCHEDULELIST().at(i) : playlists.ArrayController_PLAYLIST().at(i);
  }
  // Its name, for the history and the proof of play; empty when unknown.
  QString list_name(const QString& device_id, const QVariant& id) { return list_shown(device_id, id).name; }

  Schedule schedule;
  Schedule_View schedule_view;
  FileList file_list;
  UDP_Feedback udp_feedback;
  display_playlist playlist_editor;
  Server server;
  PlayList playlists;
  AppDelegate app;
  history::HistoryService history;
  PlayerGroups groups;
  Announcement announcement;
  notify::Notifier notifier;
  AlertRouter alert_router;
};

}  // namespace tavri
