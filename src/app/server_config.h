#pragma once
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "sites/site_settings.h"

namespace tavri {

// The server's configuration file (INI): where the content is, where the
// API listens and with what, how long the history is kept. The players'
// ports are not in it: the players depend on them.
struct ServerSettings {
  QString content_folder;  // empty: the one the operator chose last
  bool api_enabled = true;
  QString api_address = "127.0.0.1";
  quint16 api_port = 5080;
  QString tls_certificate, tls_key;
  QString token_file;
  // Names the API is reached by besides its addresses and "localhost"
  // ([api] host_names = a, b): a browser asking for any other is refused.
  std::vector<std::string> host_names;  // empty: "api_token" in the application's folder
  int history_retention_days = 0;  // 0: the history's own default
  int schedule_horizon_days = 0;   // days of dated tasks compiled ahead; 0: 28
  bool desktop_alerts = true;      // offline players on the desktop, when there is one
  int max_players = 0;             // the registry's cap; 0: the registry's own default
  int command_rate = 0;            // command datagrams a second to a fleet; 0: the players' own default
  sites::SiteSettings sites;       // [sites]: a site of a hub, joined through a broker

  bool api_on_loopback() const;
};

// The file a desktop user's configuration is read from when none is named.
QString default_config_path();

// Reads and checks `path`. A missing file is no error unless `must_exist`;
// anything wrong gives nothing and, in `error`, the file, the key and what
// is wrong with it.
std::optional<ServerSettings> read_settings(const QString& path, bool must_exist, QString& error);

// Exit status for a configuration that cannot be used.
inline constexpr int kConfigError = 78;

}  // namespace tavri
