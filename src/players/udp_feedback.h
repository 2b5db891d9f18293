#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "core/bus.h"
#include "core/debounce.h"
#include "core/dialogs.h"
#include "core/outcome.h"
#include "core/record_list.h"
#include "core/text_rule.h"
#include "net/io_pool.h"
#include "players/command_tracker.h"
#include "players/feedback_guard.h"
#include "players/feedback_inbox.h"
#include "players/list_sends.h"
#include "players/net/datagram_socket.h"
#include "players/net/wire_protocol.h"
#include "players/registry_file.h"

namespace tavri {

// What a player's list is shown as.
struct ListShown {
  bool schedule = false;
  QString id;    // the schedule's, or the reported id
  QString name;  // empty when not known
  // "Week (schedule)", "Lobby", or "7 (unknown)"; empty without an id.
  QString text() const {
    if (!name.isEmpty()) return schedule ? QString("%1 (schedule)").arg(name) : name;
    return id.isEmpty() ? QString() : QString("%1 (unknown)").arg(id);
  }
};

// Where feedback arrives and commands go; tests use loopback and ephemeral ports.
struct PlayerNetworkConfig {
  std::uint16_t feedback_port = wire::kFeedbackPort;
  std::string command_host = wire::kCommandHost;
  std::uint16_t command_port = wire::kCommandPort;
  int check_interval_ms = 4000;
  // Reopening the feedback socket after it closed itself.
  double reopen_first_delay = 3.0;
  double reopen_max_delay = 60.0;
  // Feedback taken from one sender address, per second and at once.
  double address_rate = 5000, address_burst = 10000;
  CommandTracker::Options commands;
  // Every player hears every broadcast: a command to a fleet leaves at a
  // pace its receive buffers take (about 200 datagrams queue in a default
  // 208 KiB buffer), the first `command_burst` at once, then
  // `command_rate` a second, in the order they were sent.
  double command_rate = 1000;
  int command_burst = 128;
  // How many players the registry holds ([players] max in the
  // configuration); past it a new id takes the place of a silent stranger
  // or is refused, never of a player heard within the online rule.
  int max_players = 10000;
  // A new id is saved once it reported again at least this long after its
  // first report: a real player does within seconds, an invented one never.
  // 0: every id is saved (tests that save what they fed once).
  qint64 heard_again_ms = 1500;
};

// The player registry, the player commands and the player map's data.
// Feedback and the registry: udp_feedback.cpp; commands:
// udp_feedback_commands.cpp; the saved file: registry_file.cpp.
class UDP_Feedback : public QObject {
  Q_OBJECT
 public:
  UDP_Feedback(Bus& bus, Dialogs& dialogs, RecordList* content_list = nullptr,
               PlayerNetworkConfig config = {}, net::IoPool* pool = nullptr, QObject* parent = nullptr);
  ~UDP_Feedback() override;

  // The registry's default cap (PlayerNetworkConfig::max_players).
  static constexpr int kMaxPlayers = 10000;
  // Past this many selected players a command is confirmed first.
  static constexpr int kScreenful = 25;
  // Datagrams waiting for the main thread, at most (about 20 s of a full
  // registry's feedback); the main thread takes them in slices this long.
  static constexpr std::size_t kInboxCapacity = 50000;
  static constexpr int kDrainSliceMs = 10;
  static constexpr int kRebuildSpacingMs = 250;

  RecordList& ArrayController_DEVICES() { return devices_; }
  MapState& map_state() { return map_; }
  // Datagrams that reached the feedback port, and those refused (bad,
  // over an address's rate, or past the inbox), since the start.
  std::uint64_t datagrams_received() const { return drops_->received_total(); }
  std::uint64_t datagrams_refused() const { return drops_->refused_total(); }
  std::uint16_t feedback_port() const;

  // Registry.
  void udp_socket_did_receive(const QByteArray& data, const QString& host);
  void timer_check();
  void save();
  void load();
  void sort_table();
  void remove_device_single();
  void remove_devices();
  void create_test_devices();
  void add_did_start();
  void tableViewSelectionDidChange() { emit selection_highlight_requested(); }
  // The operator placed this player on the map (or otherwise made it theirs).
  void mark_operator_player(const QString& device_id);
  bool is_operator_player(const QString& device_id) const { return operator_players_.contains(device_id); }

  // Commands to the selected players.
  void device_play() { simple_command(wire::kPlay); }
  void device_pause() { simple_command(wire::kPause); }
  void device_menue_off() { simple_command(wire::kMenuOff); }
  void device_menue_on() { simple_command(wire::kMenuOn); }
  void device_clear_list() {
    if (confirm("Clear the list of", "Clear list")) simple_command(wire::kClearList, true);
  }
  void device_next() { simple_command(wire::kNext); }
  void device_clear_content() {
    if (confirm("Delete all content of", "Clear content")) simple_command(wire::kClearContent, true);
  }
  void device_mute_on() { simple_command(wire::kMuteOn); }
  void device_mute_off() { simple_command(wire::kMuteOff); }
  void device_back() { simple_command(wire::kBack); }
  void reset_device() {
    if (confirm("Reset", "Reset")) simple_command(wire::kReset, true);
  }
  void changeName();
  void sendM3U8();
  void send_playlist(const QVariant& record);
  void refresh_lists();
  void set_as_new_background_pic();
  void discover_devices();
  void send_simple_feedback();

  // The same actions with explicit arguments (player_operations.cpp): each
  // checks all its arguments first, and one that fails sent and changed
  // nothing. Commands to players other than a rename, a list, a refresh or
  // a background take at most one argument (the web address).
  Outcome command_players(int code, const QStringList& device_ids, const QStringList& arguments = {});
  Outcome rename_player(const QString& device_id, const QString& name);
  Outcome remove_players(const QStringList& device_ids);
  void remove_all_players();
  // What remove_devices took, back in the list (an undo).
  void put_back_players(const RecordArray& removed, const QSet<QString>& operators, const QVariant& sends);
  // A playlist's or a schedule's record, as its catalogue holds it.
  Outcome send_list(const QVariantMap& list, const QStringList& device_ids);
  Outcome refresh_lists(const QStringList& device_ids);
  Outcome set_background(const QString& image_path, const QStringList& device_ids);
  // Unknown ids, or none when `allow_none` is false.
  Outcome check_players(const QStringList& ids, bool allow_none = false);
  // What this server last told the player to play (a list or a stream).
  std::optional<ListSends::Last> last_sent(const QString& device_id) const { return list_sends_.last_of(device_id); }
  QString last_background(const QString& device_id) const { return list_sends_.background_of(device_id); }
  // Every player id in the registry, once, in registry order.
  QStringList player_ids() const;
  QStringList selected_ids() const;

  // The list ids the players report now: new lists do not take them.
  QSet<qint64> lists_in_use() const;
  // Whether a player reporting this list id plays the list that has it now
  // (this server sent it that id since a new list last took it).
  bool list_known(const QString& device_id, const QVariant& list_id) const;
  // A player heard from another address than its own keeps that address
  // under this key, and its reports from there are not taken until the
  // operator accepts the move.
  static constexpr char kClaimedAddressKey[] = "claimed_by";
  Outcome accept_address(const QString& device_id);
  // The window's: the same for the selected players, after asking.
  void accept_selected_addresses();
  // The schedule a player runs when it reports this list id (see ListSends).
  std::optional<qint64> schedule_shown(const QString& device_id, const QVariant& list_id) const;
  // The one rule for what a player's reported list is shown as, everywhere:
  // the schedule it was last sent (whether it reports the schedule's id or
  // a playlist of its tasks), else a playlist this server sent it under
  // that id, else only the id. The names come from the catalogues.
  ListShown list_shown(const QString& device_id, const QVariant& reported,
                       const std::function<QString(qint64)>& playlist_name,
                       const std::function<QString(qint64)>& schedule_name) const;
  // A new list took this id.
  void list_id_taken(qint64 list_id);
  // How many tracks the list a player reports holds (-1: not known), for
  // next and back, which a list of one track does not show.
  void set_track_count(std::function<int(const QString& device_id, const QVariant& list_id)> count) {
    track_count_ = std::move(count);
  }
  // What the players table shows of a player's command: pending or failed.
  QString command_state(const QString& device_id) const { return commands_.state_of(device_id); }

 signals:
  // Players the operator removed (their groups forget them).
  void players_removed(const QStringList& ids);
  // The map follows these (rebuild, icon refresh, selection highlight).
  void reload_map_requested();
  void icons_check_requested();
  void selection_highlight_requested();
  // The registry was read: the map applies its saved frame, scale and origin
  // (at start-up and after an import alike).
  void map_state_loaded();
  // What the last command was and what became of it, for the operator.
  void last_command_changed(const QString& text);
  // One action's tally as it changes: "NEXT: 480 of 500 confirmed, 2 failed".
  void command_tally(const QString& text);
  // Why a button did nothing (no player selected): for the window's status line.
  void notice(const QString& text);
  // For the history: each feedback taken into the registry, each command
  // sent, and what the players' feedback showed of it.
  void feedback_recorded(const Record& player);
  void command_sent_to(const QString& device_id, int code);
  void command_confirmed(const QString& device_id, int code);
  void command_failed(const QString& device_id, int code);

 public:
  QString last_command() const { return last_command_; }

 private:
  class SocketDelegate;
  void drain_feedback();
  void init_UDP_in();
  void open_socket(bool first);
  void socket_closed(const QString& reason);
  void command_sent(bool sent, const QString& reason);
  // A full registry makes room for a new id; false when all are the operator's.
  bool make_room();
  void heard_from_elsewhere(int index, const QString& from);
  // What is kept about a player beside its record: its commands and sends.
  void forget_player(const QString& device_id);
  void report_refused();
  void follow_commands(qint64 now_ms);
  void show_tally();

  void note_command(int code, int players = 1);
  // The first send of an operator action in this turn of the event loop.
  bool starts_burst(int code) const { return !burst_open_ || code != burst_code_; }
  // Asks before a command that undoes the players' work, naming them;
  // "Cancel" is the default.
  bool confirm(const QString& action, const QString& button);
  void send(const QString& device_id, int code, const QStringList& arguments = {});
  void send_bytes(const std::string& bytes);
  // `confirmed`: the operator was asked already (a command that undoes work).
  void simple_command(int code, bool confirmed = false);
  // True when the selection fits a screen, or the operator confirms it.
  bool many_confirmed(const QString& action);
  // An operation's failure, told to the operator.
  void tell(const Outcome& outcome);
  // True when players are selected; otherwise says so and what `action` needs.
  bool players_selected(const QString& action);
  // A text the players would read as two fields; a name that is empty,
  // blank or of several lines.
  static Outcome check_text(const QString& field, const QString& typed, text_rule::Kind kind);
  static Outcome check_name(const QString& name);
  // At most one rebuild pending, on the next turn of the main loop: a burst
  // of new players gives one rebuild with the same final map.
  void reload_map();
  QList<int> records_with_id(const QString& id);

  Bus& bus_;
  Dialogs& dialogs_;
  RecordList* content_list_;
  PlayerNetworkConfig config_;
  net::IoPool& pool_;
  net::IoPool::Strand delegate_queue_;  // datagrams reach the main thread in order
  RecordList devices_;
  MapState map_;
  QSet<QString> operator_players_;
  std::optional<QByteArray> last_datagram_;
  QHash<QString, QList<int>> id_index_;
  quint64 id_index_serial_ = ~quint64(0);  // the registry's layout it was built for
  QDateTime slice_now_;  // while a slice of feedback is taken
  QTimer check_timer_, follow_timer_;
  std::shared_ptr<FeedbackInbox> inbox_ = std::make_shared<FeedbackInbox>(kInboxCapacity);
  std::shared_ptr<DropCounter> drops_ = std::make_shared<DropCounter>();
  QTimer drain_timer_;
  std::shared_ptr<SocketDelegate> delegate_;
  std::shared_ptr<net::DatagramSocket> socket_;
  double reopen_delay_ = 0;
  int reopen_attempt_ = 0;
  Debounce autosave_;
  bool send_failure_reported_ = false;
  QString last_command_;
  // Datagrams waiting for their turn (see PlayerNetworkConfig::command_rate).
  void drain_outbox();
  std::deque<std::string> outbox_;
  double send_tokens_ = 0;
  qint64 tokens_at_ms_ = 0;
  QTimer pace_timer_;
  int burst_code_ = -1;    // the command being sent in this turn of the event loop
  int burst_count_ = 0;    // to how many players
  bool burst_open_ = false;
  bool reload_pending_ = false;
  QElapsedTimer last_rebuild_;
  std::function<int(const QString&, const QVariant&)> track_count_;
  FeedbackRequestLimiter feedback_requests_;
  CommandTracker commands_;
  ListSends list_sends_;
  int refused_ = 0;            // new ids refused since the last tick
  bool refusal_alerted_ = false;  // this burst of refusals was told
  qint64 conflict_alerted_ms_ = 0;
  // New ids not yet heard again (PlayerNetworkConfig::heard_again_ms after
  // their first report), with that first time: not saved until they are.
  QHash<QString, qint64> heard_once_;
};

}  // namespace tavri
