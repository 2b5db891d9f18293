#include "udp_feedback.h"

#include "player_status.h"

#include <mutex>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/main_queue.h"
#include "core/notifications.h"

namespace tavri {

namespace {
constexpr char kSpeicher[] = "SPEICHER";
constexpr char kImageKey[] = "SPEICHER_IMAGE";
constexpr char kWindowKey[] = "SPEICHER_MAP_WINDOW";
constexpr char kScaleKey[] = "SPEICHER_MAP_WINDOW_SCALE";
constexpr char kOriginKey[] = "SPEICHER_MAP_WINDOW_POS";

QString text(const std::string& s) {
  // Byte for byte: a leading byte-order mark belongs to a player's id too,
  // and commands must carry it back.
  QString out = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
  if (s.rfind("\xEF\xBB\xBF", 0) == 0 && !out.startsWith(QChar(0xFEFF))) out.prepend(QChar(0xFEFF));
  return out;
}

QString registry_path() { return application_folder() + "/" + kRegistryFile; }
QString working_copy_folder() { return app_support_folder() + "/" + kTempFolder; }
QString working_copy_path() { return working_copy_folder() + "/" + kRegistryWorkingCopy; }
}  // namespace

// Receives on the socket's delegate strand and hands each datagram to the
// main thread, in arrival order.
class UDP_Feedback::SocketDelegate : public net::DatagramSocketDelegate {
 public:
  SocketDelegate(UDP_Feedback* owner, std::shared_ptr<FeedbackInbox> inbox) : owner_(owner), inbox_(std::move(inbox)) {}

  // The owner calls this before it goes. What was posted to it before is
  // discarded with it by Qt, so a posted call always finds it alive.
  void detach() {
    std::lock_guard lock(owner_mutex_);
    owner_ = nullptr;
  }

  void udp_socket_did_receive(net::DatagramSocket&, std::vector<std::uint8_t> data,
                              std::vector<std::uint8_t> address) override {
    QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    const QString host = text(net::DatagramSocket::host_from_address(address).value_or(""));
    // One wake-up of the main thread for every datagram that arrives
    // before it drains the inbox.
    if (inbox_->push({std::move(bytes), host}) != FeedbackInbox::Push::kWake) return;
    post([](UDP_Feedback* o) { o->drain_feedback(); });
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
      // Feedback changes the registry all the time: saved at least every ten seconds.
      autosave_(2000, 10000, [this] { save(); }) {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  bus_.register_observer(this, note::APPLICATION_DID_FINISH_LAUNCHING,
                         [this](const QVariant&) { add_did_start(); });
  bus_.register_observer(this, note::SEND_PLAYLIST, [this](const QVariant& v) { send_playlist(v); });
  connect(&devices_, &RecordList::selection_changed, this, &UDP_Feedback::tableViewSelectionDidChange);
  connect(&devices_, &RecordList::changed, this, [this] {
    if (!own_edit_) id_index_stale_ = true;
    autosave_.touch();
  });
  delegate_ = std::make_shared<SocketDelegate>(this, inbox_);
  init_UDP_in();
  check_timer_.setInterval(config_.check_interval_ms);
  connect(&check_timer_, &QTimer::timeout, this, &UDP_Feedback::timer_check);
  check_timer_.start();
}

UDP_Feedback::~UDP_Feedback() {
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

// The socket closed itself after an error: open a new one a little later,
// backing off while that keeps failing, so that feedback resumes.
void UDP_Feedback::reload_map() {
  if (reload_pending_) return;
  reload_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    reload_pending_ = false;
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
  const auto feedback =
      wire::decode_feedback(std::string_view(data.constData(), static_cast<size_t>(data.size())), host.toStdString());
  if (!feedback) return;
  if (feedback->status_device == 4) send_simple_feedback();
  console_log(QString("RECEIVE FROM: %1 - %2").arg(text(feedback->device_name), text(feedback->device_id)));

  const QString id = text(feedback->device_id);
  const QList<int> matches = records_with_id(id);
  if (matches.size() > 1) return;
  if (matches.isEmpty() && devices_.size() >= kMaxPlayers) {
    // A sender that invents ids must not grow the registry without end.
    if (!registry_full_reported_) console_log(QString("REGISTRY FULL: %1 players; new id %2 ignored").arg(kMaxPlayers).arg(id));
    registry_full_reported_ = true;
    return;
  }

  Record r = matches.isEmpty() ? Record() : devices_.at(matches.first());
  r.insert("device_ip", text(feedback->device_ip));
  r.insert("device_id", id);
  r.insert("device_name", text(feedback->device_name));
  r.insert("status_device", feedback->status_device);
  r.insert("status_player", feedback->status_player);
  r.insert("id_playlist", text(feedback->id_playlist));
  r.insert("id_track", text(feedback->id_track));
  r.insert("status_menue", feedback->status_menue);
  r.insert("status_time", QDateTime::currentDateTime());
  r.insert("status_sound", feedback->status_sound);
  r.insert("device_time", text(feedback->device_time));
  r.insert("device_background", text(feedback->device_background));
  own_edit_ = true;
  if (matches.isEmpty()) {
    console_log("ADD DEVICE");
    devices_.append(r);
    id_index_[id].append(devices_.size() - 1);
  } else {
    devices_.replace(matches.first(), r);
  }
  own_edit_ = false;
  if (matches.isEmpty()) reload_map();
  emit feedback_recorded(r);
}

// A flood must not hold the main thread: each turn takes the inbox for a
// few milliseconds, the table re-sorts once for all of it, and the timers
// (the check, the autosave) run before the next turn.
void UDP_Feedback::drain_feedback() {
  QElapsedTimer spent;
  spent.start();
  devices_.begin_changes();
  while (spent.elapsed() < kDrainSliceMs) {
    const auto batch = inbox_->take(64);
    if (batch.empty()) break;
    for (const auto& datagram : batch) udp_socket_did_receive(datagram.bytes, datagram.host);
  }
  devices_.end_changes();
  if (drain_pending_ || inbox_->empty()) return;
  drain_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    drain_pending_ = false;
    drain_feedback();
  });
}

// Feedback is frequent: the lookup by device_id uses an index that any
// change of the registry from elsewhere makes stale.
QList<int> UDP_Feedback::records_with_id(const QString& id) {
  if (id_index_stale_) {
    id_index_.clear();
    for (int i = 0; i < devices_.size(); ++i) id_index_[devices_.at(i).value("device_id").toString()].append(i);
    id_index_stale_ = false;
  }
  return id_index_.value(id);
}

void UDP_Feedback::timer_check() {
  registry_full_reported_ = false;  // said again once per interval
  if (const auto dropped = inbox_->take_dropped())
    console_log(QString("FEEDBACK DROPPED: %1 datagrams arrived faster than they could be taken").arg(dropped));
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

namespace {
// "lobby, bar and 3 more"
QString player_names(const RecordArray& players) {
  QStringList names;
  for (int i = 0; i < players.size() && i < 3; ++i) names << players[i].value("device_name").toString();
  QString text = names.join(", ");
  if (players.size() > 3) text += QString(" and %1 more").arg(players.size() - 3);
  return text;
}
}  // namespace

bool UDP_Feedback::confirm(const QString& action, const QString& button) {
  const RecordArray selected = devices_.selected_records();
  if (selected.isEmpty()) return false;
  const QString whom = selected.size() == 1 ? QString("the player \"%1\"").arg(selected[0].value("device_name").toString())
                                            : QString("%1 players").arg(selected.size());
  return dialogs_.alert(QString("%1 %2?").arg(action, whom), player_names(selected), {"Cancel", button}) == 1;
}

void UDP_Feedback::remove_device_single() {
  if (!devices_.has_selection()) return;
  const RecordArray chosen = devices_.selected_records();
  const QString message = chosen.size() == 1
                              ? QString("Remove the player \"%1\" from the list?").arg(chosen[0].value("device_name").toString())
                              : QString("Remove %1 players from the list?").arg(chosen.size());
  if (dialogs_.alert(message, "A player that still answers comes back with its next feedback.", {"Cancel", "Remove"}) != 1)
    return;
  QList<int> selected = devices_.selected_list_indices();
  std::sort(selected.begin(), selected.end(), std::greater<>());
  for (int i : selected) devices_.remove_at(i);
  reload_map();
}

void UDP_Feedback::remove_devices() {
  if (dialogs_.alert("sorry", "really ????", {"OK", "CANCEL"}, 1) != 0) return;
  devices_.clear();
  last_datagram_.reset();
  save();
  reload_map();
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

void UDP_Feedback::save() {
  autosave_.cancel();
  // A snapshot (records are values); encoding ten thousand players and the
  // plan, and both writes, happen on the writer, in the order saves were asked.
  QVariantMap top{{kSpeicher, to_variant_list(devices_.records())},
                  {kWindowKey, map_.frame},
                  {kScaleKey, QVariant::fromValue(map_.scale)},
                  {kOriginKey, map_.origin}};
  if (!map_.background.isNull()) top.insert(kImageKey, map_.background);
  BackgroundWriter::instance().submit(registry_path(), [top] {
    const QByteArray bytes = encode_archive(top);
    QDir().mkpath(application_folder());
    save_file_logged(registry_path(), bytes, "SAVE DEVICES !!!!!");
    QDir().mkpath(working_copy_folder());
    save_file_logged(working_copy_path(), bytes, {});
  });
}

namespace {
// When a saved registry was last current: its latest feedback time, or
// an invalid time when it does not decode or holds none.
QDateTime saved_as_of(const QByteArray& bytes) {
  QDateTime latest;
  if (const auto top = decode_archive(bytes))
    for (const QVariant& v : top->value(kSpeicher).toList())
      if (const QDateTime t = v.toMap().value("status_time").toDateTime(); t.isValid() && (!latest.isValid() || t > latest))
        latest = t;
  return latest;
}
}  // namespace

// The working copy, unless it is missing or empty or the application
// folder's copy is newer by its content: a backup of the application
// folder restored as the README says comes back.
std::optional<std::pair<QString, QByteArray>> UDP_Feedback::saved_registry() {
  auto working = read_file(working_copy_path());
  auto backup = read_file(registry_path());
  const bool has_working = working && !working->isEmpty();
  const bool has_backup = backup && !backup->isEmpty();
  if (has_backup && (!has_working || (*working != *backup && saved_as_of(*backup) > saved_as_of(*working))))
    return std::pair{registry_path(), *backup};
  if (has_working) return std::pair{working_copy_path(), *working};
  return std::nullopt;
}

void UDP_Feedback::load() {
  devices_.clear();
  sort_table();
  // What was saved is what is read back.
  BackgroundWriter::instance().wait_idle(60000);
  const auto saved = saved_registry();
  if (!saved) return;
  const auto& [path, bytes] = *saved;
  console_log("LOAD DEVICES!!!!!");
  QString error;
  const auto top = decode_archive(bytes, &error);
  if (!top) {
    console_log(QString("LOAD ERROR: %1 - %2").arg(path, error));
    keep_damaged_copy(path);
    return;
  }
  const QVariantList list = top->value(kSpeicher).toList();
  const RecordArray records = to_record_array(list);
  if (records.size() != list.size() || (top->contains(kSpeicher) && top->value(kSpeicher).typeId() != QMetaType::QVariantList)) {
    // What was dropped would be gone at the next save.
    console_log(QString("LOAD ERROR: %1 - entries that are not records were dropped").arg(path));
    keep_damaged_copy(path);
  }
  const QVariant image = top->value(kImageKey);
  map_.background = image.metaType().id() == QMetaType::QImage ? image.value<QImage>() : QImage();
  if (top->contains(kWindowKey)) {
    map_.frame = top->value(kWindowKey).toRectF();
    reload_map();
  }
  if (top->contains(kScaleKey)) map_.scale = top->value(kScaleKey).toFloat();
  if (top->contains(kOriginKey)) {
    map_.origin = top->value(kOriginKey).toPointF();
    reload_map();
  }
  devices_.set_records(records);
  devices_.select_first_row();
  reload_map();
  emit map_state_loaded();
}

// ---------------------------------------------------------------- commands

void UDP_Feedback::send_bytes(const std::string& bytes) {
  if (!socket_) return;
  socket_->send_data(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), config_.command_host,
                     config_.command_port, -1, 1);
}


// One line per command however many players it goes to: the sends of one
// turn of the event loop count together.
void UDP_Feedback::note_command(int code, int players) {
  if (!burst_open_ || code != burst_code_) {
    burst_code_ = code;
    burst_count_ = 0;
  }
  burst_count_ += players;
  if (!burst_open_) {
    burst_open_ = true;
    QTimer::singleShot(0, this, [this] { burst_open_ = false; });
  }
  last_command_ = socket_ ? QString("%1 sent to %2 %3").arg(players::command_name(code)).arg(burst_count_)
                                .arg(burst_count_ == 1 ? "player" : "players")
                          : QString("%1 not sent: the player socket is closed").arg(players::command_name(code));
  emit last_command_changed(last_command_);
}

void UDP_Feedback::send(const QString& device_id, int code, std::initializer_list<QString> arguments) {
  note_command(code);
  emit command_sent_to(device_id, code);
  std::vector<std::string> utf8;
  for (const auto& a : arguments) utf8.push_back(a.toStdString());
  send_bytes(wire::encode_command(device_id.toStdString(), code, utf8));
}

void UDP_Feedback::simple_command(int code, bool rebuild_map) {
  if (!devices_.has_selection()) return;
  for (const auto& r : devices_.selected_records()) send(r.value("device_id").toString(), code);
  if (rebuild_map) reload_map();
}

bool UDP_Feedback::refuse_separator(const QString& typed) {
  if (!wire::contains_separator(typed.toStdString())) return false;
  dialogs_.alert(QString("The text must not contain %1").arg(text(std::string(wire::kSeparator))),
                 "The players would read it as two fields. Nothing was sent.", {"OK"});
  return true;
}

void UDP_Feedback::changeName() {
  if (devices_.selection_count() != 1) return;
  const Record player = devices_.selected_records().first();
  console_log("EDIT");
  const auto name = dialogs_.prompt("Please enter the new name:", player.value("device_name").toString(), 200);
  if (!name || refuse_separator(*name)) return;
  console_log(QString("NEW NAME: %1").arg(*name));
  send(player.value("device_id").toString(), wire::kRename, {*name});
  reload_map();
}

void UDP_Feedback::sendM3U8() {
  if (!devices_.has_selection()) return;
  console_log("M3u8");
  const auto address = dialogs_.prompt("Please enter the web address:", "", 400);
  if (!address || refuse_separator(*address)) return;
  console_log(QString("NEW WEB ADDRESS: %1").arg(*address));
  for (const auto& r : devices_.selected_records()) send(r.value("device_id").toString(), wire::kWebStream, {*address});
}

void UDP_Feedback::send_playlist(const QVariant& object) {
  if (!devices_.has_selection()) return;
  const QVariantMap list = object.toMap();
  const int code = list.contains("tasklist") ? wire::kLoadSchedule : wire::kLoadPlaylist;
  const QString id = QString::number(list.value("id").toLongLong());
  const QString name = list.value("name").toString();
  if (refuse_separator(name)) return;  // the players would read two fields
  for (const auto& r : devices_.selected_records()) send(r.value("device_id").toString(), code, {id, name});
}

void UDP_Feedback::refresh_lists() {
  console_log("REFRESH LISTS");
  bus_.post(note::SAVE_ALL_LISTS);
  const RecordArray selected = devices_.selected_records();
  // The players fetch the files as soon as they hear this: it leaves only
  // once every file of the save-all is written.
  BackgroundWriter::instance().after_pending(this, [this, selected] {
    if (!selected.isEmpty()) note_command(wire::kRefreshLists, static_cast<int>(selected.size()));
    QPointer<UDP_Feedback> self(this);
    for (int i = 0; i < selected.size(); ++i) {
      const std::string bytes =
          wire::encode_command(selected[i].value("device_id").toString().toStdString(), wire::kRefreshLists);
      run_after(i * 0.01, [self, bytes] {
        if (self) self->send_bytes(bytes);
      });
    }
  });
  reload_map();
}

void UDP_Feedback::set_as_new_background_pic() {
  if (!content_list_ || content_list_->selection_count() != 1) {
    dialogs_.alert("Please select one file in the content list", "", {"OK"});
    return;
  }
  const QUrl url = content_list_->selected_records().first().value("file_url").toUrl();
  const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
  const QString extension = QFileInfo(path).suffix().toLower();
  if (extension != "png" && extension != "jpg") {
    dialogs_.alert("Please select a file with the extension png or jpg", "", {"OK"});
    return;
  }
  // The header is enough for the size; the image is not decoded.
  const QSize size = QImageReader(path).size();
  if (!size.isValid()) {
    dialogs_.alert("the image could not be read", path, {"OK"});
    return;
  }
  console_log(QString::asprintf("IMAGE_SIZE:  %0f | %0f", double(size.width()), double(size.height())));
  if (size.width() != 1920) {
    dialogs_.alert("the image is not in the right dimensions: width is not 1920", "", {"OK"});
    return;
  }
  if (size.height() != 1080) {
    dialogs_.alert("the image is not in the right dimensions: height is not 1080", "", {"OK"});
    return;
  }
  const QString file_name = QFileInfo(path).fileName();
  for (const auto& r : devices_.selected_records())
    send(r.value("device_id").toString(), wire::kBackground, {file_name});
  console_log("BG IMAGE SEND ERFOLGT");
}

void UDP_Feedback::discover_devices() {
  last_datagram_.reset();
  devices_.refresh();
  reload_map();
}

void UDP_Feedback::send_simple_feedback() { send_bytes(wire::simple_feedback_request()); }

}  // namespace tavri
