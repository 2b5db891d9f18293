#include "udp_feedback.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <mutex>

#include "core/console.h"
#include "core/main_queue.h"
#include "core/notifications.h"
#include "core/undo_history.h"
#include "player_status.h"

namespace tavri {

namespace {
QString text(const std::string& s) {
  // Byte for byte: a leading byte-order mark belongs to a player's id too,
  // and commands must carry it back.
  QString out = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
  if (s.rfind("\xEF\xBB\xBF", 0) == 0 && !out.startsWith(QChar(0xFEFF))) out.prepend(QChar(0xFEFF));
  return out;
}

qint64 now_ms() { return QDateTime::currentMSecsSinceEpoch(); }

constexpr char kInboxFull[] = "arrived faster than they could be taken";
constexpr char kOverRate[] = "over one address's rate";

// Which of a feedback's texts breaks the text rule, as the drop's reason;
// nothing when all keep it. Such a datagram never reaches the registry.
std::optional<QString> text_problem(const wire::Feedback& f) {
  using text_rule::Kind;
  const std::pair<const std::string*, Kind> fields[] = {
      {&f.device_id, Kind::id},          {&f.device_name, Kind::name},   {&f.id_playlist, Kind::id},
      {&f.id_track, Kind::address},      {&f.device_time, Kind::name},   {&f.device_background, Kind::address},
      {&f.device_ip, Kind::address}};
  for (const auto& [field, kind] : fields)
    if (const auto problem = text_rule::problem(*field, kind)) return QString::fromStdString(*problem);
  return std::nullopt;
}
}  // namespace

// Receives on the socket's delegate strand and hands each datagram to the
// main thread, in arrival order. What no player could have sent, and a
// flood from one address, stop here.
class UDP_Feedback::SocketDelegate : public net::DatagramSocketDelegate {
 public:
  SocketDelegate(UDP_Feedback* owner, std::shared_ptr<FeedbackInbox> inbox, std::shared_ptr<DropCounter> drops,
                 const PlayerNetworkConfig& config)
      : owner_(owner),
        inbox_(std::move(inbox)),
        drops_(std::move(drops)),
        rate_(config.address_rate, config.address_burst) {}

  // The owner calls this before it goes. What was posted to it before is
  // discarded with it by Qt, so a posted call always finds it alive.
  void detach() {
    std::lock_guard lock(owner_mutex_);
    owner_ = nullptr;
  }

  void udp_socket_did_receive(net::DatagramSocket& socket, std::vector<std::uint8_t> data,
                              std::vector<std::uint8_t> address) override {
    udp_socket_did_receive(socket, std::move(data), std::move(address), false);
  }

  void udp_socket_did_receive(net::DatagramSocket&, std::vector<std::uint8_t> data, std::vector<std::uint8_t> address,
                              bool cut) override {
    drops_->received();
    const QString host = text(net::DatagramSocket::host_from_address(address).value_or(""));
    // A cut datagram would be stored cut: a field of 60 KB as 9 KB of it.
    if (cut) return drops_->count(wire::drop_reason(wire::Drop::too_long), host);
    if (!rate_.admit(host, now_ms())) return drops_->count(kOverRate, host);
    QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    // One wake-up of the main thread for every datagram that arrives
    // before it drains the inbox.
    switch (inbox_->push({std::move(bytes), host})) {
      case FeedbackInbox::Push::kDropped: return drops_->count(kInboxFull);
      case FeedbackInbox::Push::kQueued: return;
      case FeedbackInbox::Push::kWake: post([](UDP_Feedback* o) { o->drain_feedback(); });
    }
  }

  void udp_socket_did_close(net::DatagramSocket& socket, const std::optional<net::SocketError>& error) override {
    if (!error) return;  // closed on request
    const QString reason = text(error->reason.empty() ? error->description : error->reason + ": " + error->description);
    const auto* closed = &socket;
    post([reason, closed](UDP_Feedback* o) {
      if (o->socket_.get() == closed) o->socket_closed(reason);
    });
  }

  void udp_socket_did_send(net::DatagramSocket&, std::int64_t) override {
    post([](UDP_Feedback* o) { o->command_sent(true, {}); });
  }
  void udp_socket_did_not_send(net::DatagramSocket&, std::int64_t, const net::SocketError& error) override {
    post([reason = text(error.description)](UDP_Feedback* o) { o->command_sent(false, reason); });
  }

 private:
  template <typename F>
  void post(F&& call) {
    std::lock_guard lock(owner_mutex_);
    if (!owner_) return;
    post_to(owner_, [o = owner_, call = std::forward<F>(call)] { call(o); });
  }

  std::mutex owner_mutex_;
  UDP_Feedback* owner_;
  std::shared_ptr<FeedbackInbox> inbox_;
  std::shared_ptr<DropCounter> drops_;
  AddressRate rate_;  // on the socket's queue only
};

UDP_Feedback::UDP_Feedback(Bus& bus, Dialogs& dialogs, RecordList* content_list, PlayerNetworkConfig config,
                           net::IoPool* pool, QObject* parent)
    : QObject(parent),
      bus_(bus),
      dialogs_(dialogs),
      content_list_(content_list),
      config_(std::move(config)),
      pool_(pool ? *pool : net::IoPool::shared()),
      delegate_queue_(pool_.make_strand()),
      // Feedback changes the registry all the time: saved at least every five
      // seconds (the encoding runs on the writer).
      autosave_(2000, 5000, [this] { save(); }),
      feedback_requests_(config_.check_interval_ms),
      commands_(config_.commands) {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  bus_.register_observer(this, note::APPLICATION_DID_FINISH_LAUNCHING,
                         [this](const QVariant&) { add_did_start(); });
  bus_.register_observer(this, note::SEND_PLAYLIST, [this](const QVariant& v) { send_playlist(v); });
  connect(&devices_, &RecordList::selection_changed, this, &UDP_Feedback::tableViewSelectionDidChange);
  connect(&devices_, &RecordList::changed, this, [this] { autosave_.touch(); });
  drain_timer_.setSingleShot(true);
  drain_timer_.setInterval(0);
  connect(&drain_timer_, &QTimer::timeout, this, &UDP_Feedback::drain_feedback);
  pace_timer_.setSingleShot(true);
  connect(&pace_timer_, &QTimer::timeout, this, &UDP_Feedback::drain_outbox);
  delegate_ = std::make_shared<SocketDelegate>(this, inbox_, drops_, config_);
  init_UDP_in();
  check_timer_.setInterval(config_.check_interval_ms);
  connect(&check_timer_, &QTimer::timeout, this, &UDP_Feedback::timer_check);
  check_timer_.start();
  // Resends are due to the second, not to the next check: a command is
  // given up within its minute.
  follow_timer_.setInterval(std::max(250, config_.check_interval_ms / 4));
  connect(&follow_timer_, &QTimer::timeout, this, [this] { follow_commands(now_ms()); });
  follow_timer_.start();
}

UDP_Feedback::~UDP_Feedback() {
  bus_.unregister(this);  // a bus that outlives the registry posts nothing to it
  delegate_->detach();
  if (socket_) socket_->close();
}

std::uint16_t UDP_Feedback::feedback_port() const { return socket_ ? socket_->local_port() : 0; }

void UDP_Feedback::init_UDP_in() { open_socket(true); }

void UDP_Feedback::open_socket(bool first) {
  socket_ = net::DatagramSocket::create(delegate_, delegate_queue_, pool_.context());
  const bool bound = socket_->bind_to_port(config_.feedback_port);
  if (first) console_log(bound ? "UDP PORT BIND" : "UDP PORT NOT BIND");
  const bool receiving = socket_->begin_receiving();
  if (receiving) {
    console_log("UDP CONNECTED");
    reopen_delay_ = 0;
    reopen_attempt_ = 0;
  } else {
    console_log("UDP CONNECTION ERROR");
    if (first) dialogs_.alert("Sorry, can't open udp ports", "", {"OK"});
  }
  socket_->enable_broadcast(true);
  socket_->set_ipv6_enabled(true);
  if (!receiving && !first) socket_closed("reopen failed");
}

void UDP_Feedback::reload_map() {
  if (reload_pending_) return;
  reload_pending_ = true;
  // While new players keep coming, the map is rebuilt a few times a second,
  // not at every turn of the main loop.
  const qint64 since = last_rebuild_.isValid() ? last_rebuild_.elapsed() : kRebuildSpacingMs;
  QTimer::singleShot(static_cast<int>(std::max<qint64>(0, kRebuildSpacingMs - since)), this, [this] {
    reload_pending_ = false;
    last_rebuild_.start();
    emit reload_map_requested();
  });
}


void UDP_Feedback::command_sent(bool sent, const QString& reason) {
  if (sent) {
    send_failure_reported_ = false;
    return;
  }
  if (burst_code_ >= 0) {
    last_command_ = QString("%1 not sent: %2").arg(players::command_name(burst_code_), reason);
    emit last_command_changed(last_command_);
  }
  // Once for a run of failures, not once per datagram.
  if (send_failure_reported_) return;
  send_failure_reported_ = true;
  console_log(QString("COMMANDS CANNOT REACH THE PLAYERS: %1").arg(reason));
  dialogs_.alert("Commands cannot reach the players.",
                 QString("%1\n\nNo network interface could send to the players' network (port %2).")
                     .arg(reason)
                     .arg(config_.command_port),
                 {"OK"});
}

// The socket closed itself after an error: open a new one a little later,
// backing off while that keeps failing, so that feedback resumes.
void UDP_Feedback::socket_closed(const QString& reason) {
  console_log(QString("UDP SOCKET CLOSED: %1").arg(reason));
  reopen_delay_ = reopen_delay_ <= 0 ? config_.reopen_first_delay
                                     : std::min(reopen_delay_ * 2, config_.reopen_max_delay);
  const double delay = reopen_delay_;
  QPointer<UDP_Feedback> self(this);
  run_after(delay, [self] {
    if (!self) return;
    ++self->reopen_attempt_;
    console_log(QString("UDP REOPEN ATTEMPT %1").arg(self->reopen_attempt_));
    self->open_socket(false);
  });
}

// ---------------------------------------------------------------- registry

void UDP_Feedback::udp_socket_did_receive(const QByteArray& data, const QString& host) {
  if (last_datagram_ && *last_datagram_ == data) return;
  last_datagram_ = data;
  wire::Drop why{};
  const auto feedback = wire::decode_feedback(std::string_view(data.constData(), static_cast<size_t>(data.size())),
                                              host.toStdString(), &why);
  if (!feedback) return drops_->count(wire::drop_reason(why), host);
  if (const auto problem = text_problem(*feedback)) return drops_->count(*problem, host);

  const QString id = text(feedback->device_id);
  QList<int> matches = records_with_id(id);
  if (matches.size() > 1) return;
  console_log(QString("RECEIVE FROM: %1 - %2").arg(text(feedback->device_name), id));
  if (matches.isEmpty() && devices_.size() >= config_.max_players && !make_room()) {
    ++refused_;
    return;
  }

  Record r = matches.isEmpty() ? Record() : devices_.at(matches.first());
  if (!matches.isEmpty()) {
    const QString known = r.value("device_ip").toString(), from = text(feedback->device_ip);
    if (!known.isEmpty() && from != known) return heard_from_elsewhere(matches.first(), from);
  }
  // A player turning to error asks the network for feedback; one claiming
  // another's id from elsewhere asks nothing.
  const std::optional<int> previous =
      matches.isEmpty() ? std::nullopt : std::optional<int>(r.value("status_device").toInt());
  if (feedback_requests_.should_request(host, previous, feedback->status_device, now_ms())) send_simple_feedback();
  r.insert("device_ip", text(feedback->device_ip));
  r.insert("device_id", id);
  r.insert("device_name", text(feedback->device_name));
  r.insert("status_device", feedback->status_device);
  r.insert("status_player", feedback->status_player);
  r.insert("id_playlist", text(feedback->id_playlist));
  r.insert("id_track", text(feedback->id_track));
  r.insert("status_menue", feedback->status_menue);
  r.insert("status_time", slice_now_.isValid() ? slice_now_ : QDateTime::currentDateTime());
  r.insert("status_sound", feedback->status_sound);
  r.insert("device_time", text(feedback->device_time));
  r.insert("device_background", text(feedback->device_background));
  if (matches.isEmpty()) {
    console_log("ADD DEVICE");
    if (config_.heard_again_ms > 0) heard_once_.insert(id, now_ms());
    // The index follows our own append, unless room was just made.
    const bool index_current = id_index_serial_ == devices_.layout_serial();
    devices_.append(r);
    if (index_current) {
      id_index_[id].append(devices_.size() - 1);
      id_index_serial_ = devices_.layout_serial();
    }
  } else {
    devices_.replace(matches.first(), r);
    if (const auto first = heard_once_.constFind(id); first != heard_once_.constEnd() && now_ms() - *first >= config_.heard_again_ms)
      heard_once_.erase(first);
  }
  if (matches.isEmpty()) reload_map();
  emit feedback_recorded(r);
  const auto confirmed = commands_.feedback(r, now_ms());
  for (const auto& c : confirmed) emit command_confirmed(c.device_id, c.code);
  if (!confirmed.empty()) show_tally();
}

// A player's id reported from another address than the one it is known at:
// a device answering in its name, or the player moved. Either way its
// reports from there are not taken (they would keep a dead player online
// and confirm commands it never got) until the operator accepts the move;
// the record names the other address, and an alert says so, once per
// address and at most once a minute.
void UDP_Feedback::heard_from_elsewhere(int index, const QString& from) {
  const Record& r = devices_.at(index);
  drops_->count("from an address that is not the player's own", from);
  if (r.value(kClaimedAddressKey).toString() == from) return;
  const QString id = r.value("device_id").toString(), known = r.value("device_ip").toString();
  devices_.set_value(index, kClaimedAddressKey, from);
  console_log(QString("ADDRESS CONFLICT: %1 is known at %2 and was heard from %3").arg(id, known, from));
  const qint64 now = now_ms();
  if (now - conflict_alerted_ms_ < 60000) return;
  conflict_alerted_ms_ = now;
  dialogs_.alert(QString("The player \"%1\" was heard from another address.").arg(id),
                 QString("It is known at %1 and now reports from %2: another device may be answering in its name. Its "
                         "reports from %2 are not taken until you accept the move (Accept address, or tavri-avctl "
                         "accept-address).")
                     .arg(known, from),
                 {"OK"});
}

// At the cap, strangers make room for strangers: the records the operator
// never named, placed or commanded that were heard from least recently
// give way, a tenth of the registry at a time so that a flood of invented
// ids costs one pass per thousand. The operator's players never go, nor
// does any player heard within the online rule: a live screen is never
// pushed out by a newcomer, which is refused instead.
bool UDP_Feedback::make_room() {
  const QDateTime now = QDateTime::currentDateTime();
  std::vector<std::pair<QDateTime, int>> candidates;
  for (int i = 0; i < devices_.size(); ++i) {
    const Record& r = devices_.at(i);
    if (!operator_players_.contains(r.value("device_id").toString()) && !players::is_online(r, now))
      candidates.emplace_back(r.value("status_time").toDateTime(), i);
  }
  if (candidates.empty()) return false;
  const std::size_t count = std::min(candidates.size(), std::size_t(std::max(1, config_.max_players / 10)));
  std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(count), candidates.end(),
                    [](const auto& a, const auto& b) {
                      // Never heard from (no time) first, then the longest silent.
                      if (a.first.isValid() != b.first.isValid()) return !a.first.isValid();
                      return a.first < b.first || (a.first == b.first && a.second < b.second);
                    });
  std::vector<int> doomed;
  for (std::size_t k = 0; k < count; ++k) {
    const int i = candidates[k].second;
    doomed.push_back(i);
    forget_player(devices_.at(i).value("device_id").toString());
  }
  devices_.remove_list_indices(doomed);
  console_log(QString("REGISTRY FULL: %1 players that were never the operator's made room").arg(doomed.size()));
  reload_map();
  return true;
}

// Once per burst of refusals, while it lasts: how many new players found
// no room among the operator's own.
void UDP_Feedback::report_refused() {
  const int refused = std::exchange(refused_, 0);
  if (refused == 0) {
    refusal_alerted_ = false;
    return;
  }
  console_log(QString("REGISTRY FULL: %1 new players refused").arg(refused));
  if (refusal_alerted_) return;
  refusal_alerted_ = true;
  dialogs_.alert(QString("The player list is full: %1 new players were not added.").arg(refused),
                 QString("All %1 players in it are live (heard in the last seconds) or ones you named, placed or "
                         "commanded. Remove players you no longer need, or raise [players] max in the configuration.")
                     .arg(config_.max_players),
                 {"OK"});
}

// A flood must not hold the main thread: each turn takes the inbox for a
// few milliseconds, the table re-sorts once for all of it, and the timers
// (the check, the autosave) run before the next turn.
void UDP_Feedback::drain_feedback() {
  QElapsedTimer spent;
  spent.start();
  devices_.begin_changes();
  while (spent.elapsed() < kDrainSliceMs) {
    // Small takes: the slice ends close to its length even when each
    // datagram adds a player.
    const auto batch = inbox_->take(8);
    if (batch.empty()) break;
    // The local time costs a look at the time zone file: once a take.
    slice_now_ = QDateTime::currentDateTime();
    for (const auto& datagram : batch) udp_socket_did_receive(datagram.bytes, datagram.host);
  }
  slice_now_ = QDateTime();
  devices_.end_changes();
  // The rest waits for a timer, not a posted call: timers due before it
  // (the check, the autosave, the window's own) run first.
  if (!inbox_->empty() && !drain_timer_.isActive()) drain_timer_.start();
}

// Feedback is frequent: the lookup by device_id uses an index, built anew
// when records were added or removed elsewhere or a hit no longer matches.
QList<int> UDP_Feedback::records_with_id(const QString& id) {
  auto valid = [&](const QList<int>& found) {
    for (int i : found)
      if (i >= devices_.size() || devices_.at(i).value("device_id").toString() != id) return false;
    return true;
  };
  QList<int> found = id_index_.value(id);
  if (id_index_serial_ == devices_.layout_serial() && valid(found)) return found;
  id_index_.clear();
  for (int i = 0; i < devices_.size(); ++i) id_index_[devices_.at(i).value("device_id").toString()].append(i);
  id_index_serial_ = devices_.layout_serial();
  return id_index_.value(id);
}

void UDP_Feedback::timer_check() {
  // Said once per interval, with the counts.
  if (const QString dropped = drops_->take_summary(); !dropped.isEmpty())
    console_log(QString("FEEDBACK DROPPED: %1").arg(dropped));
  report_refused();
  follow_commands(now_ms());
  last_datagram_.reset();
  devices_.refresh();
  emit icons_check_requested();
}

void UDP_Feedback::sort_table() { devices_.set_sort_key("device_name", true, true); }

void UDP_Feedback::add_did_start() {
  reload_map();
  // Map selection: a click on an icon selects its player in the table.
  bus_.register_observer(this, note::SELECT_BY_MAP, [this](const QVariant& id) {
    const QList<int> matches = records_with_id(id.toString());
    if (!matches.isEmpty()) devices_.select_list_indices({matches.first()});
  });
}

QSet<qint64> UDP_Feedback::lists_in_use() const {
  QSet<qint64> ids;
  for (int i = 0; i < devices_.size(); ++i) {
    bool ok = false;
    const qint64 id = devices_.at(i).value("id_playlist").toString().toLongLong(&ok);
    if (ok) ids.insert(id);
  }
  return ids;
}

void UDP_Feedback::forget_player(const QString& device_id) {
  heard_once_.remove(device_id);
  commands_.forget(device_id);
  list_sends_.forget(device_id);
}

bool UDP_Feedback::list_known(const QString& device_id, const QVariant& list_id) const {
  bool ok = false;
  const qint64 id = list_id.toString().toLongLong(&ok);
  return ok && list_sends_.known(device_id, id);
}

std::optional<qint64> UDP_Feedback::schedule_shown(const QString& device_id, const QVariant& list_id) const {
  bool ok = false;
  const qint64 id = list_id.toString().toLongLong(&ok);
  return ok ? list_sends_.schedule_shown(device_id, id) : std::nullopt;
}

ListShown UDP_Feedback::list_shown(const QString& device_id, const QVariant& reported,
                                   const std::function<QString(qint64)>& playlist_name,
                                   const std::function<QString(qint64)>& schedule_name) const {
  ListShown shown;
  shown.id = reported.toString();
  // A schedule removed since it was sent leaves the playlist rule.
  const auto schedule = schedule_shown(device_id, reported);
  const QString name = schedule ? schedule_name(*schedule) : QString();
  if (!name.isEmpty()) {
    shown.schedule = true;
    shown.id = QString::number(*schedule);
    shown.name = name;
  } else if (list_known(device_id, reported)) {
    shown.name = playlist_name(reported.toString().toLongLong());
  }
  return shown;
}

void UDP_Feedback::list_id_taken(qint64 list_id) {
  list_sends_.taken(list_id);
  autosave_.touch();
}

void UDP_Feedback::mark_operator_player(const QString& device_id) {
  if (device_id.isEmpty() || operator_players_.contains(device_id)) return;
  operator_players_.insert(device_id);
  autosave_.touch();
}

void UDP_Feedback::remove_device_single() {
  if (!devices_.has_selection()) return;
  const RecordArray chosen = devices_.selected_records();
  const QString message = chosen.size() == 1
                              ? QString("Remove the player \"%1\" from the list?").arg(chosen[0].value("device_name").toString())
                              : QString("Remove %1 players from the list?").arg(chosen.size());
  if (dialogs_.alert(message, "A player that still answers comes back with its next feedback.", {"Cancel", "Remove"}) != 1)
    return;
  tell(remove_players(selected_ids()));
}

void UDP_Feedback::accept_selected_addresses() {
  QStringList moved, details;
  for (const Record& r : devices_.selected_records()) {
    const QString claimed = r.value(kClaimedAddressKey).toString();
    if (claimed.isEmpty()) continue;
    moved << r.value("device_id").toString();
    details << QString("\"%1\": %2 instead of %3")
                   .arg(r.value("device_name").toString(), claimed, r.value("device_ip").toString());
  }
  if (moved.isEmpty()) return void(emit notice("No selected player was heard from another address"));
  if (dialogs_.alert(moved.size() == 1 ? QString("Take the reports from the new address as the player's own?")
                                       : QString("Take the reports of %1 players from their new addresses?").arg(moved.size()),
                     details.mid(0, 10).join("\n") +
                         "\nOnly if the player really moved: a host that answers in its name could hide that it is dead.",
                     {"Cancel", "Accept"}) != 1)
    return;
  for (const QString& id : moved) accept_address(id);
}

void UDP_Feedback::remove_devices() {
  const int count = devices_.size();
  if (count == 0) return void(emit notice("There are no players to remove"));
  // Says what goes, and that it can come back; Cancel is the default.
  if (dialogs_.alert(QString("Remove all %1 players from the list?").arg(count),
                     "Their names and places on the map go with them; players that still run come back as new, "
                     "unnamed ones. Edit > Undo puts them back for this session.",
                     {"Cancel", "Remove all"}, 0) != 1)
    return;
  const RecordArray removed = devices_.records();
  const QSet<QString> operators = operator_players_;
  const QVariant sends = list_sends_.to_variant();
  remove_all_players();
  QPointer<UDP_Feedback> self(this);
  remember_deletion(QString("remove %1 players").arg(count), [self, removed, operators, sends] {
    if (self) self->put_back_players(removed, operators, sends);
  });
}

void UDP_Feedback::create_test_devices() {
  for (int n = 0; n < 10; ++n) {
    devices_.append({{"device_id", QString::asprintf("TEST_%02d", n)},
                     {"device_name", QString::asprintf("TEST_NAME_%02d", n)},
                     {"status_device", 0},
                     {"status_player", 0}});
    console_log("ADD DEVICE");
  }
}


// An id heard only once (a flood of invented ones) is not written: a real
// player reports again within seconds, and is saved from then on.
void UDP_Feedback::save() {
  autosave_.cancel();
  RecordArray players = devices_.records();
  if (!heard_once_.isEmpty())
    players.removeIf([this](const Record& r) {
      const QString id = r.value("device_id").toString();
      return heard_once_.contains(id) && !operator_players_.contains(id);
    });
  registry_file::save(players, map_, operator_players_, list_sends_.to_variant());
}

void UDP_Feedback::load() {
  devices_.clear();
  sort_table();
  QString error;
  const auto saved = registry_file::load(&error);
  if (!error.isEmpty()) console_log(QString("LOAD ERROR: %1").arg(error));
  if (!saved) return;
  map_.background = saved->map.background;
  if (saved->has_frame) {
    map_.frame = saved->map.frame;
    reload_map();
  }
  if (saved->has_scale) map_.scale = saved->map.scale;
  if (saved->has_origin) {
    map_.origin = saved->map.origin;
    reload_map();
  }
  operator_players_ = saved->operator_players;
  list_sends_ = ListSends::from_variant(saved->list_sends);
  devices_.set_records(saved->players);
  devices_.select_first_row();
  reload_map();
  emit map_state_loaded();
}

}  // namespace tavri
