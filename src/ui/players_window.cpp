#include "players_window.h"

#include <QHeaderView>
#include "display_colors.h"

#include <QTimer>
#include <QVBoxLayout>

#include "ui/named_images.h"
#include "players/player_status.h"
#include "record_table.h"
#include "widgets/tavri_text.h"
#include "window_parts.h"

namespace tavri {

PlayersWindow::PlayersWindow(UDP_Feedback& feedback, std::function<void()> open_map,
                             std::function<QString(const QString&, const QVariant&)> playlist_name,
                             std::function<QString(const QString&)> uptime_24h, Extras extras, QWidget* parent)
    : ToolWindowWidget("WINDOW_DEVICELIST", "Players", parent) {
  using namespace players;
  // A silent player's row is greyed.
  const auto greyed = [](Column c) {
    c.foreground = [](const Record& r) { return is_online(r) ? QVariant() : QVariant(QColor(Qt::gray)); };
    return c;
  };
  Column online{"status_time", "", 36};
  online.display = [](const Record&) { return QVariant(); };
  online.decoration = [](const Record& r) { return named_image(is_online(r) ? "ICON_ONLINE" : "ICON_OFFLINE"); };
  Column name = greyed({"device_name", "Player", 130});
  name.sortable = true;
  // These transformers name an image: the cell shows the image alone.
  auto image = [](const char* key, const char* title, QString (*convert)(const QVariant&)) {
    Column c{key, title, 60};
    c.display = [](const Record&) { return QVariant(); };
    c.decoration = [key = QString(key), convert](const Record& r) { return named_image(convert(r.value(key))); };
    return c;
  };
  Column player = image("status_player", "Play", &Player_Status);
  player.header_tooltip = "Playing or paused";
  Column sound = image("status_sound", "Sound", &Sound_Status);
  Column menu = image("status_menue", "Menu", &Menue_Status);
  Column seen{"status_time", "Last seen", 90};
  seen.display = [](const Record& r) { return time_ago(r.value("status_time")); };
  seen.tooltip = [](const Record& r) { return r.value("status_time").toDateTime().toString("yyyy-MM-dd HH:mm:ss"); };
  Column device = greyed({"status_device", "Device", 115});
  device.display = [](const Record& r) { return device_state(r); };
  Column list = greyed({"id_playlist", "List", 100});
  if (playlist_name)
    list.display = [playlist_name](const Record& r) {
      return playlist_name(r.value("device_id").toString(), r.value("id_playlist").toString());
    };
  list.tooltip = [](const Record& r) {
    return QString("list id %1; a name is shown only for a list this server sent the player: its last schedule "
                   "(by the schedule's id or a playlist of its tasks) or a playlist under that id")
        .arg(r.value("id_playlist").toString());
  };
  seen.foreground = [](const Record& r) { return TimeStamp_to_color(r.value("status_time")); };
  // The last command the player's feedback has not shown yet, or gave up on.
  Column command{"command_state", "Command", 150};
  command.display = [&feedback](const Record& r) { return feedback.command_state(r.value("device_id").toString()); };
  command.foreground = [&feedback](const Record& r) {
    return feedback.command_state(r.value("device_id").toString()).contains("failed") ? QVariant(QColor(Qt::red))
                                                                                      : QVariant();
  };
  command.tooltip = [](const Record&) {
    return QString("Commands whose effect the player's feedback shows are sent again until it does");
  };
  // The online share of the last day, from the player history.
  Column uptime = greyed({"uptime_24h", "Uptime 24h", 90});
  uptime.display = [uptime_24h](const Record& r) {
    return uptime_24h ? QVariant(uptime_24h(r.value("device_id").toString())) : QVariant();
  };
  uptime.tooltip = [](const Record&) { return QString("Online share of the last 24 hours, by the 8 s rule"); };
  // Its address, and another that reports in its name, shown in red.
  Column address = greyed({"device_ip", "Address", 110});
  address.display = [](const Record& r) {
    const QString claimed = r.value(UDP_Feedback::kClaimedAddressKey).toString();
    return claimed.isEmpty() ? r.value("device_ip")
                             : QVariant(QString("%1 (also %2!)").arg(r.value("device_ip").toString(), claimed));
  };
  address.foreground = [](const Record& r) {
    if (!r.value(UDP_Feedback::kClaimedAddressKey).toString().isEmpty()) return QVariant(QColor(Qt::red));
    return is_online(r) ? QVariant() : QVariant(QColor(Qt::gray));
  };
  address.tooltip = [](const Record& r) {
    const QString claimed = r.value(UDP_Feedback::kClaimedAddressKey).toString();
    return claimed.isEmpty() ? QString("The address the player reports from")
                             : QString("Also heard from %1: its reports from there are not taken until the move is "
                                       "accepted (\"accept address\" below, or tavri-avctl accept-address)")
                                   .arg(claimed);
  };
  // The player's own clock and background, coloured like the time stamp.
  auto stamped = [](const char* key, const char* title, int width) {
    Column c{key, title, width};
    c.foreground = [](const Record& r) { return TimeStamp_to_color(r.value("status_time")); };
    return c;
  };
  // What it shows now, from its list and track; the track as reported in the tooltip.
  Column track = greyed({"id_track", "Now playing", 120});
  if (extras.now_playing)
    track.display = [now = extras.now_playing](const Record& r) {
      const QString text = now(r);
      return text.isEmpty() ? r.value("id_track") : QVariant(text);
    };
  track.tooltip = [](const Record& r) { return QString("track reported: %1").arg(r.value("id_track").toString()); };
  Column groups = greyed({"device_groups", "Groups", 110});
  groups.display = [of = extras.groups](const Record& r) {
    return of ? QVariant(of(r.value("device_id").toString())) : QVariant();
  };
  groups.tooltip = [](const Record&) { return QString("The groups the player is in (right-click: add, take out, select)"); };
  table_ = new RecordTable("TableView_DEVICES", feedback.ArrayController_DEVICES(),
                           {online, name, greyed({"device_id", "Id", 110}), groups, address,
                            device, player, menu, sound, list, track, command, seen, uptime,
                            stamped("device_time", "Player time", 90), stamped("device_background", "Background", 120)},
                           this);
  // What a small screen shows: who, in what state, playing what, seen when.
  table_->set_optional_columns("players", {"Id", "Groups", "Address", "Menu", "Sound", "Command", "Uptime 24h",
                                           "Player time", "Background"});
  table_->horizontalHeader()->setToolTip("Right-click to choose the columns");

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new tavri_title_text("Players", this));
  layout->addWidget(filter_field(this, table_, "TableView_DEVICES_filter"));
  layout->addWidget(table_, 1);
  UDP_Feedback& f = feedback;
  layout->addWidget(action_bar(
      this,
      QList<Action>{{"device_play", "play", [&f] { f.device_play(); }, "Icon_play"},
       {"device_pause", "pause", [&f] { f.device_pause(); }, "Icon_pause"},
       {"device_back", "back", [&f] { f.device_back(); }},
       {"device_next", "next", [&f] { f.device_next(); }},
       {"device_menue_on", "menu on", [&f] { f.device_menue_on(); }, "icon_menue"},
       {"device_menue_off", "menu off", [&f] { f.device_menue_off(); }, "icon_menue_leer"},
       {"device_mute_on", "mute", [&f] { f.device_mute_on(); }, "tavri_mute"},
       {"device_mute_off", "sound", [&f] { f.device_mute_off(); }, "tavri_sound_on"},
       {"device_clear_list", "clear list", [&f] { f.device_clear_list(); }},
       {"device_clear_content", "clear content", [&f] { f.device_clear_content(); }, "tavri_icon_attention"},
       {"reset_device", "reset", [&f] { f.reset_device(); }, "tavri_icon_attention"},
       {"changeName", "rename", [&f] { f.changeName(); }},
       {"sendM3U8", "web stream", [&f] { f.sendM3U8(); }, "tavri_icon_send"},
       {"set_as_new_background_pic", "background", [&f] { f.set_as_new_background_pic(); }},
       {"refresh_lists", "refresh lists", [&f] { f.refresh_lists(); }, "Icon_send"},
       {"discover_devices", "discover", [&f] { f.discover_devices(); }},
       {"accept_selected_addresses", "accept address", [&f] { f.accept_selected_addresses(); }},
       {"remove_device_single", "remove", [&f] { f.remove_device_single(); }},
       {"remove_devices", "remove all", [&f] { f.remove_devices(); }},
       {"sort_table", "sort", [&f] { f.sort_table(); }},
       {"open_map", "map", std::move(open_map)}} +
          extras.actions));
  resize(1100, 460);
  // Online, offline and "ago" change with the clock, not only with feedback.
  auto* clock = new QTimer(this);
  connect(clock, &QTimer::timeout, table_->viewport(), [this] { table_->viewport()->update(); });
  clock->start(1000);
}

}  // namespace tavri
