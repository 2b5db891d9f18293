#include "app/server_config.h"

#include <boost/asio/ip/address.hpp>
#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace tavri {

namespace {

const QStringList kKeys = {"content/folder",       "api/enabled", "api/listen",       "api/port",
                           "api/tls_certificate",  "api/tls_key", "api/token_file",   "history/retention_days",
                           "alerts/desktop",       "api/host_names",   "players/max",
                           "players/command_rate", "schedules/horizon_days"};

std::optional<bool> read_bool(const QString& text) {
  const QString t = text.trimmed().toLower();
  if (t == "true" || t == "yes" || t == "on" || t == "1") return true;
  if (t == "false" || t == "no" || t == "off" || t == "0") return false;
  return std::nullopt;
}

}  // namespace

namespace {
std::optional<boost::asio::ip::address> ip_address(const QString& text) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(text.toStdString(), ec);
  if (ec) return std::nullopt;
  return address;
}
}  // namespace

bool ServerSettings::api_on_loopback() const {
  const auto address = ip_address(api_address);
  return address && address->is_loopback();
}

QString default_config_path() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tavri_av_server/server.conf";
}

std::optional<ServerSettings> read_settings(const QString& path, bool must_exist, QString& error) {
  ServerSettings s;
  const QFileInfo info(path);
  if (!info.exists()) {
    if (!must_exist) return s;
    error = QString("%1: no such file").arg(path);
    return std::nullopt;
  }
  if (!info.isFile() || !info.isReadable()) {
    error = QString("%1: not a readable file").arg(path);
    return std::nullopt;
  }
  // QSettings skips a line it cannot read: "port: 6000" would be ignored
  // without a word, so every line must be a comment, a section or key=value.
  if (QFile text(path); text.open(QIODevice::ReadOnly)) {
    int number = 0;
    while (!text.atEnd()) {
      const QString line = QString::fromUtf8(text.readLine()).trimmed();
      ++number;
      if (line.isEmpty() || line.startsWith(';') || line.startsWith('#') ||
          (line.startsWith('[') && line.endsWith(']')) || line.contains('='))
        continue;
      error = QString("%1: line %2 is not INI (a [section], key=value, or a comment): \"%3\"")
                  .arg(path)
                  .arg(number)
                  .arg(line.left(80));
      return std::nullopt;
    }
  }
  QSettings file(path, QSettings::IniFormat);
  if (file.status() != QSettings::NoError) {
    error = QString("%1: not a valid configuration file (INI: [section] and key=value lines)").arg(path);
    return std::nullopt;
  }
  auto fail = [&](const QString& key, const QString& what) {
    error = QString("%1: [%2] %3: %4").arg(path, key.section('/', 0, 0), key.section('/', 1), what);
    return std::nullopt;
  };
  for (const QString& key : file.allKeys())
    if (!kKeys.contains(key) && !sites::setting_keys().contains(key)) return fail(key.contains('/') ? key : "General/" + key, "no such setting");
  auto value = [&](const QString& key) { return file.value(key).toString().trimmed(); };

  if (file.contains("content/folder")) {
    s.content_folder = value("content/folder");
    const QFileInfo folder(s.content_folder);
    if (!folder.isAbsolute()) return fail("content/folder", "must be an absolute path");
    if (!folder.isDir()) return fail("content/folder", QString("\"%1\" is not a folder").arg(s.content_folder));
  }
  for (const auto& [key, target] : {std::pair{"api/enabled", &s.api_enabled}, std::pair{"alerts/desktop", &s.desktop_alerts}})
    if (file.contains(key)) {
      const auto b = read_bool(value(key));
      if (!b) return fail(key, QString("\"%1\" is neither true nor false").arg(value(key)));
      *target = *b;
    }
  if (file.contains("api/listen")) {
    s.api_address = value("api/listen");
    if (!ip_address(s.api_address))
      return fail("api/listen", QString("\"%1\" is not an IP address").arg(s.api_address));
  }
  if (file.contains("api/port")) {
    bool ok = false;
    const int port = value("api/port").toInt(&ok);
    if (!ok || port < 1 || port > 65535) return fail("api/port", QString("\"%1\" is not a port (1-65535)").arg(value("api/port")));
    if (port == 5001 || port == 5002 || port == 5003)
      return fail("api/port", QString("%1 is a port the players use").arg(port));
    s.api_port = static_cast<quint16>(port);
  }
  for (const auto& [key, target] : {std::pair{"api/tls_certificate", &s.tls_certificate}, std::pair{"api/tls_key", &s.tls_key},
                                    std::pair{"api/token_file", &s.token_file}}) {
    if (!file.contains(key)) continue;
    *target = value(key);
    if (!QFileInfo(*target).isAbsolute()) return fail(key, "must be an absolute path");
  }
  for (const auto& key : {"api/tls_certificate", "api/tls_key"})
    if (file.contains(key) && !QFileInfo(value(key)).isReadable())
      return fail(key, QString("\"%1\" cannot be read").arg(value(key)));
  if (s.tls_certificate.isEmpty() != s.tls_key.isEmpty())
    return fail(s.tls_key.isEmpty() ? "api/tls_key" : "api/tls_certificate", "a certificate needs its key, and a key its certificate");
  if (s.api_enabled && !s.api_on_loopback() && s.tls_certificate.isEmpty())
    return fail("api/listen", QString("listening on %1, beyond this machine, needs TLS: set tls_certificate and tls_key "
                                      "(or listen on 127.0.0.1 and reach it through an SSH tunnel)")
                                  .arg(s.api_address));
  if (file.contains("api/host_names")) {
    // QSettings reads "a, b" as a list.
    for (const QString& name : file.value("api/host_names").toStringList()) {
      const QString trimmed = name.trimmed().toLower();
      if (trimmed.isEmpty()) continue;
      if (!std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
          }))
        return fail("api/host_names", QString("\"%1\" is not a host name").arg(trimmed));
      s.host_names.push_back(trimmed.toStdString());
    }
  }
  if (file.contains("players/max")) {
    bool ok = false;
    s.max_players = value("players/max").toInt(&ok);
    if (!ok || s.max_players < 100 || s.max_players > 200000)
      return fail("players/max", QString("\"%1\" is not a number of players (100-200000)").arg(value("players/max")));
  }
  if (file.contains("players/command_rate")) {
    bool ok = false;
    s.command_rate = value("players/command_rate").toInt(&ok);
    if (!ok || s.command_rate < 100 || s.command_rate > 100000)
      return fail("players/command_rate",
                  QString("\"%1\" is not a number of datagrams a second (100-100000)").arg(value("players/command_rate")));
  }
  if (file.contains("schedules/horizon_days")) {
    bool ok = false;
    s.schedule_horizon_days = value("schedules/horizon_days").toInt(&ok);
    if (!ok || s.schedule_horizon_days < 1 || s.schedule_horizon_days > 366)
      return fail("schedules/horizon_days", QString("\"%1\" is not a number of days (1-366)").arg(value("schedules/horizon_days")));
  }
  if (file.contains("history/retention_days")) {
    bool ok = false;
    s.history_retention_days = value("history/retention_days").toInt(&ok);
    if (!ok || s.history_retention_days < 1 || s.history_retention_days > 3650)
      return fail("history/retention_days", QString("\"%1\" is not a number of days (1-3650)").arg(value("history/retention_days")));
  }
  {
    QString key, why;
    const auto sites = sites::read_site_settings(file, &key, &why);
    if (!sites) return fail(key, why);
    s.sites = *sites;
    if (s.sites.role != sites::SiteSettings::Role::none && !s.api_enabled)
      return fail("sites/role", "a site runs the hub's requests through the API: [api] enabled must be true");
  }
  return s;
}

}  // namespace tavri
