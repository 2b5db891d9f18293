#pragma once
#include <QSettings>
#include <QStringList>
#include <optional>
#include <string>

#include "api/roles.h"
#include "sites/mqtt_link.h"
#include "sites/signed_request.h"

namespace tavri::sites {

// The [sites] section: this server as a site of a hub, or as the hub.
struct SiteSettings {
  enum class Role { none, site, hub };
  Role role = Role::none;
  std::string name;  // the site's, in topics
  LinkConfig link;   // broker, credentials and TLS files
  PublicKey hub_key{};
  std::string hub_key_file;  // the hub's secret key
  std::string origin_ca_file;  // what the media's origin is checked against; empty: the system's
  api::Role hub_role = api::Role::operator_;  // what a signed request may do here
  std::int64_t max_request_age_ms = 24LL * 3600 * 1000;
};

QStringList setting_keys();  // "sites/broker", ...

// Nothing, with `key` and `why`, when the section cannot be used.
std::optional<SiteSettings> read_site_settings(const QSettings& file, QString* key, QString* why);

// The broker link's settings a site or a hub shares with tavri-avctl.
inline std::string topic_root() { return "tavri/v1/"; }
inline std::string site_topic(const std::string& site) { return topic_root() + "sites/" + site + "/"; }

}  // namespace tavri::sites
