#pragma once
#include <QString>
#include <QStringList>

namespace tavri::avctl {

class Ctl;

// One command against one server; defined by the main program.
int run_command(Ctl& ctl, QStringList args, bool json);

struct BrokerOptions {
  QString url, site, hub_key, user, password_file, ca_file, cert_file, key_file;
  int timeout_s = 10;
};

// "hub-key create [FILE]": the hub's key pair.
int hub_key_command(const QStringList& args);
// "sites", or any command with --site, through the broker.
int sites_command(const BrokerOptions& options, const QStringList& args, bool json);

}  // namespace tavri::avctl
