#include "avctl/avctl_sites.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <sys/stat.h>

#include "avctl/avctl_ctl.h"
#include "sites/hub_client.h"

namespace tavri::avctl {

namespace {

QString default_key_path() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/tavri_av_server/hub.key";
}

std::string read_trimmed(const QString& path, QString* why) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *why = QString("cannot read %1: %2").arg(path, file.errorString());
    return {};
  }
  return file.readAll().trimmed().toStdString();
}

int fail(const QString& why, int status) {
  std::fprintf(stderr, "tavri-avctl: %s\n", qPrintable(why));
  return status;
}

QString when(qint64 ms) {
  return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString("yyyy-MM-dd HH:mm:ss") : "-";
}

}  // namespace

int hub_key_command(const QStringList& args) {
  if (args.value(0) != "create" || args.size() > 2) return usage("hub-key create [FILE]");
  const QString path = args.size() == 2 ? QFileInfo(args[1]).absoluteFilePath() : default_key_path();
  if (QFileInfo::exists(path))
    return fail(QString("%1 exists: a new key would lock out every site that trusts the old one").arg(path), kRefused);
  const sites::KeyPair pair = sites::create_key_pair();
  if (pair.secret_key.empty()) return fail("cannot make a key", kServerError);
  QDir().mkpath(QFileInfo(path).absolutePath());
  // Only its owner may read the hub's secret.
  const mode_t old = ::umask(077);
  QFile file(path);
  const bool written = file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                       file.write(QByteArray::fromStdString(pair.secret_key + "\n")) > 0 && file.flush();
  ::umask(old);
  if (!written) return fail(QString("cannot write %1: %2").arg(path, file.errorString()), kRefused);
  std::printf("secret key written to %s (keep it on the hub only)\n"
              "each site's configuration, [sites]:\nhub_public_key = %s\n",
              qPrintable(path), pair.public_key.c_str());
  return kOk;
}

int sites_command(const BrokerOptions& o, const QStringList& args, bool json) {
  std::string why;
  const auto broker = sites::parse_broker_url(o.url.toStdString(), &why);
  if (!broker) return usage(why.c_str());
  QString problem;
  const std::string secret = read_trimmed(o.hub_key.isEmpty() ? default_key_path() : o.hub_key, &problem);
  const auto key = sites::secret_key_of(secret);
  if (!key) return fail(problem.isEmpty() ? "the hub's key file holds no key (tavri-avctl hub-key create)" : problem, kUnauthorized);
  sites::LinkConfig link;
  link.broker = *broker;
  link.user = o.user.toStdString();
  if (!o.password_file.isEmpty()) {
    link.password = read_trimmed(o.password_file, &problem);
    if (!problem.isEmpty()) return fail(problem, kUnauthorized);
  }
  link.ca_file = QFile::encodeName(o.ca_file).toStdString();
  link.cert_file = QFile::encodeName(o.cert_file).toStdString();
  link.key_file = QFile::encodeName(o.key_file).toStdString();
  sites::HubClient hub(link, *key);
  if (!hub.connect(std::chrono::seconds(o.timeout_s), &why))
    return fail(QString("the broker cannot be reached: %1").arg(QString::fromStdString(why)), kUnreachable);
  const auto known = hub.sites(std::chrono::milliseconds(500));

  if (args.value(0) == "sites") {
    if (args.size() != 1) return usage("--broker URL sites");
    QJsonArray list;
    QList<QStringList> rows{{"SITE", "STATE", "ONLINE", "OFFLINE", "LAST SEEN", "ALERTS"}};
    for (const auto& [name, site] : known) {
      const QJsonObject state = QJsonDocument::fromJson(QByteArray::fromStdString(site.state)).object();
      const QJsonObject players = state.value("players").toObject();
      QJsonObject entry{{"name", QString::fromStdString(name)}, {"online", site.connected},
                        {"last_seen", site.seen_ms > 0 ? QJsonValue(QDateTime::fromMSecsSinceEpoch(site.seen_ms).toUTC().toString(Qt::ISODate)) : QJsonValue()},
                        {"state", state}};
      list.append(entry);
      rows.append({QString::fromStdString(name), site.connected ? "online" : "offline",
                   players.contains("online") ? QString::number(players.value("online").toInt()) : "-",
                   players.contains("offline") ? QString::number(players.value("offline").toInt()) : "-",
                   when(site.seen_ms), QString::number(state.value("alerts").toArray().size())});
    }
    if (json) std::printf("%s\n", QJsonDocument(QJsonObject{{"sites", list}}).toJson(QJsonDocument::Compact).constData());
    else print_table(rows);
    return kOk;
  }
  if (o.site.isEmpty()) return usage("through the broker, a command needs --site NAME|all (or is \"sites\")");
  std::vector<std::string> targets;
  if (o.site == "all") {
    for (const auto& [name, site] : known) targets.push_back(name);
    if (targets.empty()) return fail("the broker knows no site", kRefused);
  } else {
    if (!sites::valid_site_name(o.site.toStdString()) || o.site == "all")
      return usage("a site's name is 1-64 of a-z, 0-9, '-', '_' and '.'");
    targets.push_back(o.site.toStdString());
  }
  int worst = kOk;
  for (const std::string& name : targets) {
    const auto it = known.find(name);
    const bool online = it != known.end() && it->second.connected;
    if (targets.size() > 1) std::printf("== %s ==\n", name.c_str());
    std::fflush(stdout);
    ApiClient client(Endpoint{}, {});
    client.set_transport([&](const std::string& method, const std::string& target, const std::string& body) {
      const auto question = target.find('?');
      const std::string path = target.substr(0, question);
      const std::string query = question == std::string::npos ? "" : target.substr(question + 1);
      // An offline site's request waits at the broker: no reply to wait for now.
      const std::set<std::string> expect = online ? std::set<std::string>{name} : std::set<std::string>{};
      const auto replies = hub.request(name, method, path, query, body, expect,
                                       online ? std::chrono::milliseconds(o.timeout_s * 1000) : std::chrono::milliseconds(0));
      Reply reply;
      if (const auto r = replies.find(name); r != replies.end()) {
        reply.status = r->second.status;
        reply.body = r->second.body;
      } else {
        reply.error = online ? QString("%1 did not reply within %2 s; the request may still run")
                                   .arg(QString::fromStdString(name)).arg(o.timeout_s).toStdString()
                             : QString("%1 is offline: the request is queued at the broker and runs when the site "
                                       "returns").arg(QString::fromStdString(name)).toStdString();
      }
      return reply;
    });
    Ctl ctl(std::move(client), json);
    worst = std::max(worst, run_command(ctl, args, json));
  }
  return worst;
}

}  // namespace tavri::avctl
