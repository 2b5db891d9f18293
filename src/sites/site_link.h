#pragma once
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <memory>
#include <mutex>

#include "sites/signed_request.h"
#include "api/api_server.h"
#include "sites/site_settings.h"

namespace tavri {

struct Controllers;
class ApiService;

namespace sites {

class MqttLink;
class SiteMedia;

// This server as a site of a hub: what it publishes to the broker (its
// state, its players, its events) and the hub's signed requests it obeys.
// Lives on the main thread; the broker's own thread only hands messages
// over, so the site's work never waits on the WAN.
class SiteLink : public QObject {
  Q_OBJECT
 public:
  // `nonce_file`: where the requests taken are remembered across a restart.
  SiteLink(Controllers& controllers, ApiService& api, SiteSettings settings, QString nonce_file,
           QObject* parent = nullptr);
  ~SiteLink() override;

  bool start(QString& error);
  bool connected() const;

 private:
  void on_connection(bool connected, const QString& why);
  void on_request(const std::string& payload);
  void publish_state(bool force);
  void publish_players();
  void refuse(const Opened& opened);
  // A new second: the refusals past the first few of the last one, counted.
  void next_refusal_second();
  void run(api::Request request, const std::string& id);
  // Who: the hub, unless said.
  void audit(const QString& operation, const QString& arguments, const QString& result, QString who = {});
  // What outlives this object in the API's tap and in answers still being
  // written: the link, and the players an event named.
  struct Shared {
    Shared(std::unique_ptr<MqttLink> l, std::string t) : link(std::move(l)), topic(std::move(t)) {}
    std::unique_ptr<MqttLink> link;
    std::string topic;  // "tavri/v1/sites/NAME/"
    std::mutex mutex;
    QSet<QString> named;
    void reply(const std::string& id, int status, const std::string& body) const;
  };

  Controllers& c_;
  ApiService& api_;
  SiteSettings settings_;
  QString nonce_file_;
  ReplayGuard guard_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<SiteMedia> media_;
  MqttLink* link_ = nullptr;
  QTimer tick_;
  QByteArray last_state_;
  qint64 seen_ms_ = 0;
  qint64 refusal_second_ = 0;
  int refusals_in_second_ = 0, refusals_dropped_ = 0;
  // Players whose retained message is due, and when each was last sent:
  // a player is sent at most every few seconds, however often it changes.
  QSet<QString> dirty_;
  QHash<QString, qint64> sent_ms_;
};

}  // namespace sites
}  // namespace tavri
