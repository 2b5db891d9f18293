#include "sites/site_settings.h"

#include <QFile>
#include <QFileInfo>

namespace tavri::sites {

QStringList setting_keys() {
  return {"sites/role",      "sites/broker",       "sites/name",           "sites/user",     "sites/password_file",
          "sites/ca_file",   "sites/cert_file",    "sites/key_file",       "sites/hub_public_key",
          "sites/hub_key_file", "sites/hub_role",  "sites/max_request_age_hours", "sites/keepalive", "sites/origin_ca_file"};
}

std::optional<SiteSettings> read_site_settings(const QSettings& file, QString* key, QString* why) {
  SiteSettings s;
  auto fail = [&](const QString& k, const QString& w) {
    *key = "sites/" + k;
    *why = w;
    return std::nullopt;
  };
  auto value = [&](const QString& k) { return file.value("sites/" + k).toString().trimmed(); };
  auto has = [&](const QString& k) { return file.contains("sites/" + k); };
  if (!has("role") && !has("broker")) return s;
  const QString role = has("role") ? value("role") : "site";
  if (role == "site") s.role = SiteSettings::Role::site;
  else if (role == "hub") s.role = SiteSettings::Role::hub;
  else return fail("role", QString("\"%1\" is neither site nor hub").arg(role));
  if (!has("broker")) return fail("broker", "a site or hub needs its broker (mqtts://HOST:PORT)");
  std::string problem;
  const auto url = parse_broker_url(value("broker").toStdString(), &problem);
  if (!url) return fail("broker", QString::fromStdString(problem));
  s.link.broker = *url;
  s.name = value("name").toStdString();
  if (s.role == SiteSettings::Role::site && (!valid_site_name(s.name) || s.name == "all"))
    return fail("name", "a site's name is 1-64 of a-z, 0-9, '-', '_' and '.' (not \"all\")");
  s.link.user = value("user").toStdString();
  for (const auto& [k, target] : {std::pair{"ca_file", &s.link.ca_file}, std::pair{"cert_file", &s.link.cert_file},
                                  std::pair{"key_file", &s.link.key_file}, std::pair{"hub_key_file", &s.hub_key_file},
                                  std::pair{"origin_ca_file", &s.origin_ca_file}}) {
    if (!has(k)) continue;
    *target = QFile::encodeName(value(k)).toStdString();
    if (!QFileInfo(value(k)).isAbsolute()) return fail(k, "must be an absolute path");
    if (!QFileInfo(value(k)).isReadable()) return fail(k, QString("\"%1\" cannot be read").arg(value(k)));
  }
  if (s.link.cert_file.empty() != s.link.key_file.empty())
    return fail(s.link.key_file.empty() ? "key_file" : "cert_file", "a certificate needs its key, and a key its certificate");
  if (has("password_file")) {
    QFile password(value("password_file"));
    if (!QFileInfo(value("password_file")).isAbsolute()) return fail("password_file", "must be an absolute path");
    if (!password.open(QIODevice::ReadOnly)) return fail("password_file", QString("\"%1\" cannot be read").arg(value("password_file")));
    s.link.password = password.readAll().trimmed().toStdString();
  }
  if (has("keepalive")) {
    bool ok = false;
    s.link.keepalive_s = value("keepalive").toInt(&ok);
    if (!ok || s.link.keepalive_s < 5 || s.link.keepalive_s > 3600)
      return fail("keepalive", QString("\"%1\" is not a number of seconds (5-3600)").arg(value("keepalive")));
  }
  if (s.role == SiteSettings::Role::site) {
    const auto hub = public_key_of(value("hub_public_key").toStdString());
    if (!hub) return fail("hub_public_key", "a site needs the hub's public key (tavri-avctl hub-key create makes it)");
    s.hub_key = *hub;
    if (has("hub_role")) {
      const auto r = api::role_named(value("hub_role").toStdString());
      if (!r || *r == api::Role::none) return fail("hub_role", QString("\"%1\" is not viewer, operator or admin").arg(value("hub_role")));
      s.hub_role = *r;
    }
    if (has("max_request_age_hours")) {
      bool ok = false;
      const int hours = value("max_request_age_hours").toInt(&ok);
      if (!ok || hours < 1 || hours > 24 * 30)
        return fail("max_request_age_hours", QString("\"%1\" is not a number of hours (1-720)").arg(value("max_request_age_hours")));
      s.max_request_age_ms = qint64(hours) * 3600 * 1000;
    }
    s.link.client_id = "tavri-site-" + s.name;
    s.link.persistent_session = true;
    s.link.subscriptions = {site_topic(s.name) + "requests/#", topic_root() + "all/requests/#"};
    s.link.will_topic = site_topic(s.name) + "state";
    s.link.will_payload = "{\"name\":\"" + s.name + "\",\"connected\":false}";
  } else if (s.hub_key_file.empty()) {
    return fail("hub_key_file", "the hub needs its secret key (tavri-avctl hub-key create makes it)");
  }
  return s;
}

}  // namespace tavri::sites
