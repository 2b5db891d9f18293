#pragma once
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <functional>
#include <memory>
#include <variant>

#include "api/api_server.h"
#include "core/outcome.h"
#include "core/record.h"

namespace tavri {

struct Controllers;
class Announcement;
namespace sites {
class HubClient;
}

// The running announcement as the API shows it ({"running": false} when none).
QJsonObject announcement_json(const Announcement& announcement);

// What each API route does, as calls of the controllers' operations. Runs
// on the main thread; what takes long to write out (ten thousand players)
// is copied there and written on the listener's thread.

class ApiRoutes : public QObject {
  Q_OBJECT
 public:
  explicit ApiRoutes(Controllers& controllers, QObject* parent = nullptr);
  // A hub's view of its sites (GET /api/sites); none on a site.
  void set_hub(std::shared_ptr<sites::HubClient> hub) { hub_ = std::move(hub); }
  // What /metrics adds of the listener's own counts.
  void set_counters(const api::Counters* counters) { counters_ = counters; }

  // On the listener's thread: hands the request to the main thread.
  void handle(api::Request request, api::Respond respond);

  // A response now, the work that writes it (done off the main thread), or
  // a start on the main thread of work that answers when it is done.
  using Later = std::function<void(api::Respond)>;
  using Answer = std::variant<api::Response, std::function<api::Response()>, Later>;
  Answer route(const api::Request& request);

  // PUT /api/import, once its body arrived whole.
  void import_catalogues(QByteArray archive, api::Respond respond);

  static api::Response json(int status, const QJsonValue& value);
  static api::Response error(int status, const QString& message, const QString& field = {});
  static api::Response refusal(const Outcome& outcome);

 private:
  Answer players(const api::Request& request, const QStringList& parts);
  api::Response command(const QJsonObject& body);
  api::Response send_list(const QJsonObject& body);
  api::Response publish(const api::Request& request);
  Answer catalogue(const api::Request& request, const QStringList& parts, bool schedules);
  api::Response set_items(qint64 id, const api::Request& request);
  api::Response set_tasks(qint64 id, const api::Request& request);
  Answer folder(const api::Request& request);
  Answer backup();
  Answer export_catalogues();
  Answer content(const api::Request& request, const QStringList& parts);
  api::Response metrics();
  Answer proof_of_play(const api::Request& request);
  Answer timeline(const api::Request& request, const QString& device_id);
  Answer groups(const api::Request& request, const QStringList& parts);
  Answer announcement(const api::Request& request);
  api::Response alerts();
  api::Response log(const api::Request& request);
  Answer audit(const api::Request& request);
  Answer notifications(const api::Request& request, const QStringList& parts);
  Answer sites(const api::Request& request, const QStringList& parts);
  Answer site_request(const api::Request& request);
  // The playlist or schedule a body names ({"playlist": 3}, {"schedule":
  // "Week"}), or nothing with the refusal.
  std::optional<Record> named_list(const QJsonObject& body, api::Response& refusal);
  // The players a request names: "all", or a list of ids and "group:NAME"
  // entries. Nothing, with the refusal in `error`, when it is neither or a
  // group is unknown.
  std::optional<QStringList> player_ids(const QJsonValue& value, api::Response& error);

  Controllers& c_;
  const api::Counters* counters_ = nullptr;
  std::shared_ptr<sites::HubClient> hub_;
  // Counted as the players' signals tell them.
  quint64 commands_sent_ = 0, commands_failed_ = 0;
};

}  // namespace tavri
