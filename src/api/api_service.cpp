#include "api/api_service.h"

#include <QJsonDocument>

#include "api/audit_entry.h"
#include "api/web_routes.h"
#include "app/controllers.h"
#include "core/state_archive.h"
#include "history/history_store.h"
#include "players/player_status.h"
#include "playlists/published_file.h"

namespace tavri {

ApiService::ApiService(Controllers& controllers, api::ServerConfig config, QObject* parent)
    : QObject(parent),
      c_(controllers),
      routes_(controllers),
      uploads_(controllers.file_list, [this](const std::string& event, const std::string& json) { emit_event(event, json); }) {
  // A restore's history is checked by making it anew, as the start that
  // applies it will.
  state_archive::set_history_rebuild(
      [](const QString& source, const QString& target) { return history::rebuild_history(source, target); });
  // Every change is on record, written by the history's own thread: the
  // store lives as long as the controllers, longer than the listener.
  if (history::HistoryStore* store = controllers.history.store())
    config.audit = [store](const api::Request& request, const api::Response& response) {
      // A sign-in is on record when its password was checked: those are
      // braked, while a flood of refusals before any check is not.
      if (request.path == "/api/login" && response.status != 200 && response.status != 401) return;
      store->record(audit_entry(request, response, QDateTime::currentMSecsSinceEpoch()));
    };
  audit_ = config.audit;
  server_ = std::make_unique<api::ApiServer>(
      std::move(config),
      [this](api::Request request, api::Respond respond) { routes_.handle(std::move(request), std::move(respond)); },
      [this](api::Request head, std::uint64_t length, api::Ready ready) {
        uploads_.begin(std::move(head), length, std::move(ready));
      });
  routes_.set_counters(&server_->counters());
  uploads_.set_import([this](QByteArray archive, api::Respond respond) {
    routes_.import_catalogues(std::move(archive), std::move(respond));
  });
  UDP_Feedback& players = c_.udp_feedback;
  // Each action's tally changes with each player it goes to or confirms:
  // the stream gets each action's last text once a turn of the event loop.
  connect(&players, &UDP_Feedback::command_tally, this, [this](const QString& text) {
    const bool first = command_texts_.isEmpty();
    command_texts_.insert(text.section(':', 0, 0), text);
    if (first)
      QTimer::singleShot(0, this, [this] {
        for (const QString& t : std::exchange(command_texts_, {})) publish("command", {{"text", t}});
      });
  });
  connect(&players, &UDP_Feedback::command_failed, this, [this](const QString& device_id, int code) {
    publish("command-failed", {{"player", device_id}, {"command", players::command_name(code)}});
  });
  connect(&players, &UDP_Feedback::feedback_recorded, this, &ApiService::heard);
  // Both consoles show the running announcement, and its end.
  connect(&c_.announcement, &Announcement::changed, this,
          [this] { publish("announcement", announcement_json(c_.announcement)); });
  // The players known at the start are no news.
  const RecordList& devices = players.ArrayController_DEVICES();
  const QDateTime now = QDateTime::currentDateTime();
  for (int i = 0; i < devices.size(); ++i) {
    const Record& r = devices.at(i);
    const QDateTime heard_at = r.value("status_time").toDateTime();
    seen_.insert(r.value("device_id").toString(),
                 {players::is_online(r, now), heard_at.isValid() ? heard_at.toMSecsSinceEpoch() : 0,
                  r.value("device_name").toString(), r.value("id_playlist").toString(),
                  r.value("status_device").toInt(), r.value("status_player").toInt()});
  }
  // The content list's scan, as the window's progress bar shows it.
  connect(&c_.file_list, &FileList::scan_progress_changed, this, [this] {
    const FileList& files = c_.file_list;
    publish("scan", {{"scanning", files.scanning()}, {"done", files.scan_done()}, {"total", files.scan_total()}});
  });
  // The window's own copies into the folder, as its progress bar shows them.
  connect(&c_.file_list, &FileList::progress_changed, this, [this] {
    const FileList& files = c_.file_list;
    publish("copy", {{"copying", files.progress_visible()}, {"progress", files.progress_value()},
                     {"transfers", files.active_transfers()}});
  });
  // Written on the main thread or the writer's: the server takes events from any.
  set_publish_observer([this](const Published& p) {
    if (server_->counters().event_streams == 0 && !tap_) return;
    emit_event("published", QJsonDocument(QJsonObject{{"file", p.file}, {"ok", p.ok}, {"seconds", p.seconds}})
                                .toJson(QJsonDocument::Compact)
                                .toStdString());
  });
  presence_.setInterval(1000);
  connect(&presence_, &QTimer::timeout, this, &ApiService::watch_players);
}

ApiService::~ApiService() {
  set_publish_observer({});
  stop();
}

bool ApiService::start(QString& error) {
  std::string why;
  if (!server_->start(why)) {
    error = QString::fromStdString(why);
    return false;
  }
  presence_.start();
  return true;
}

void ApiService::stop() {
  presence_.stop();
  server_->stop();
}

quint16 ApiService::port() const { return server_->port(); }

void ApiService::publish(const QString& event, const QJsonObject& data) {
  // A flood of new players makes thousands of events: none is written out
  // when no one listens.
  if (server_->counters().event_streams == 0 && !tap_) return;
  emit_event(event.toStdString(), QJsonDocument(data).toJson(QJsonDocument::Compact).toStdString());
}

void ApiService::emit_event(const std::string& event, const std::string& json) {
  if (tap_) tap_(event, json);
  if (server_->counters().event_streams > 0) server_->publish(event, json);
}

void ApiService::answer(api::Request request, api::Respond respond) {
  if (audit_ && request.method != "GET" && request.method != "HEAD")
    respond = [audit = audit_, kept = request, respond = std::move(respond)](api::Response response) {
      audit(kept, response);
      respond(std::move(response));
    };
  if (const auto why = api::web::forbidden(request, request.caller))
    return respond({403, "application/json", api::error_body(*why)});
  routes_.handle(std::move(request), std::move(respond));
}

void ApiService::heard(const Record& r) {
  const QString id = r.value("device_id").toString();
  const QString name = r.value("device_name").toString(), list = r.value("id_playlist").toString();
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  // Compared as reported; the words are made only for a change.
  const int device = r.value("status_device").toInt(), player = r.value("status_player").toInt();
  auto it = seen_.find(id);
  if (it == seen_.end()) {
    seen_.insert(id, {true, now, name, list, device, player});
    publish("player", {{"id", id}, {"change", "added"}, {"name", name}, {"online", true}});
    return;
  }
  it->heard_ms = now;
  if (!it->online) {
    it->online = true;
    publish("player", {{"id", id}, {"change", "online"}, {"name", name}});
  }
  if (it->name != name) {
    it->name = name;
    publish("player", {{"id", id}, {"change", "renamed"}, {"name", name}});
  }
  if (it->list != list) {
    it->list = list;
    publish("player", {{"id", id}, {"change", "list"}, {"list", list}});
  }
  // READY after DOWNLOADING, paused after playing: what a page shows live.
  if (it->device != device || it->player != player) {
    it->device = device;
    it->player = player;
    // Just heard: online, so the state is what it reports.
    publish("player", {{"id", id},
                       {"change", "status"},
                       {"state", players::Device_Status(r.value("status_device"))},
                       {"playback", players::playback_name(player)}});
  }
}

// A look at numbers only, however many players there are; the registry
// itself is read only when its size says players went.
void ApiService::watch_players() {
  const qint64 silent_since = QDateTime::currentMSecsSinceEpoch() - qint64(players::kOnlineSeconds * 1000);
  for (auto it = seen_.begin(); it != seen_.end(); ++it)
    if (it->online && it->heard_ms < silent_since) {
      it->online = false;
      publish("player", {{"id", it.key()}, {"change", "offline"}, {"name", it->name}});
    }
  const RecordList& devices = c_.udp_feedback.ArrayController_DEVICES();
  if (seen_.size() <= devices.size()) return;
  QSet<QString> present;
  for (int i = 0; i < devices.size(); ++i) present.insert(devices.at(i).value("device_id").toString());
  for (auto it = seen_.begin(); it != seen_.end();) {
    if (present.contains(it.key())) {
      ++it;
      continue;
    }
    publish("player", {{"id", it.key()}, {"change", "removed"}});
    it = seen_.erase(it);
  }
}

}  // namespace tavri
