#pragma once
#include <QString>
#include <QStringList>

namespace tavri::avctl {

class Ctl;

// One command against one server; defined by the main program.
int run_command(Ctl& ctl, QStringList args, bool json);

struct BrokerOptions {
  QString url, site, hub_key, user, password_file, ca_file, cert_file, key_file;
  int timeout_s = 0;  // 0: 10 s for a command, 300 s for a publish (the media are fetched first)
  QString hub_url;    // the hub's own server, when publish uploads the media to it
};

// "hub-key create [FILE]": the hub's key pair.
int hub_key_command(const QStringList& args);
// "sites", or any command with --site, through the broker.
// `server`: the hub's own server, where publish uploads the media; or none.
int sites_command(const BrokerOptions& options, const QStringList& args, bool json, Ctl* server);

}  // namespace tavri::avctl
