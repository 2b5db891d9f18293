#include "avctl/avctl_sites.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>
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

namespace {

// publish --media FILE... --playlist NAME [--seconds N] [--origin URL] [--no-upload] --to TARGETS
int publish(const BrokerOptions& o, QStringList args, bool json, Ctl* server, sites::HubClient& hub,
            const std::map<std::string, sites::SiteState>& known) {
  const char* how = "publish --media FILE... --playlist NAME [--seconds N] [--origin URL] [--no-upload] --to all|ID|@GROUP...";
  QStringList files, to;
  QString playlist, origin;
  int seconds = 0;
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--media") {
      while (i + 1 < args.size() && !args[i + 1].startsWith("--")) files << args[++i];
    } else if (a == "--playlist" && i + 1 < args.size()) playlist = args[++i];
    else if (a == "--origin" && i + 1 < args.size()) origin = args[++i];
    else if (a == "--seconds" && i + 1 < args.size()) seconds = args[++i].toInt();
    else if (a == "--no-upload") continue;
    else if (a == "--to") {
      to = args.mid(i + 1);
      break;
    } else return usage(how);
  }
  if (files.isEmpty() || playlist.isEmpty() || to.isEmpty() || seconds < 0) return usage(how);
  if (origin.isEmpty()) {
    // The hub's own server serves its content folder to players, and so to sites.
    if (o.hub_url.isEmpty()) return usage("--no-upload needs --origin URL: where the sites fetch the media from");
    origin = QString("http://%1:5003/").arg(QUrl(o.hub_url).host());
  }
  if (!origin.endsWith('/')) origin += '/';
  sites::Request request;
  request.site = o.site.toStdString();
  request.method = "POST";
  request.path = "/api/publish";
  QJsonArray items;
  for (const QString& path : files) {
    const QFileInfo info(path);
    const std::string sha = sites::sha256_of_file(QFile::encodeName(path).toStdString());
    if (!info.isFile() || sha.empty()) return fail(QString("%1: not a readable file").arg(path), kUsage);
    const QString name = info.fileName();
    request.media.push_back({(origin + QUrl::toPercentEncoding(name)).toStdString(), name.toStdString(),
                             std::uint64_t(info.size()), sha});
    if (const std::string why = sites::media_problem(request.media.back()); !why.empty())
      return fail(QString("%1: %2").arg(path, QString::fromStdString(why)), kUsage);
    QJsonObject item{{"file", name}};
    if (seconds > 0) item["seconds"] = seconds;
    items.append(item);
  }
  request.body = QJsonDocument(QJsonObject{{"playlist", playlist}, {"items", items}, {"players", players_value(to)}})
                     .toJson(QJsonDocument::Compact)
                     .toStdString();
  if (server)
    if (const int rc = server->upload(files, true)) return rc;
  std::set<std::string> online, offline;
  for (const auto& [name, site] : known)
    if (request.site == "all" || request.site == name) (site.connected ? online : offline).insert(name);
  if (request.site != "all" && !known.contains(request.site))
    return fail(QString("no site named \"%1\" has reported to this broker").arg(o.site), kRefused);
  const int timeout = o.timeout_s > 0 ? o.timeout_s : 300;
  const auto replies = hub.request(request, online, std::chrono::seconds(timeout));
  int worst = kOk;
  QJsonObject out;
  for (const std::string& name : online) {
    const QString site = QString::fromStdString(name);
    const auto reply = replies.find(name);
    if (reply == replies.end()) {
      worst = std::max(worst, int(kUnreachable));
      out[site] = QJsonObject{{"replied", false}};
      if (!json) std::printf("%s: no reply within %d s; it may still be fetching\n", name.c_str(), timeout);
      continue;
    }
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(reply->second.body)).object();
    out[site] = QJsonObject{{"status", reply->second.status}, {"body", body}};
    if (reply->second.status == 202) {
      if (!json)
        std::printf("%s: published: playlist %lld with %d items, sent to %d players\n", name.c_str(),
                    static_cast<long long>(body.value("playlist").toInteger()), body.value("items").toInt(),
                    int(body.value("players").toArray().size()));
    } else {
      worst = std::max(worst, reply->second.status >= 500 ? int(kServerError) : int(kRefused));
      if (!json) std::printf("%s: refused (%d): %s\n", name.c_str(), reply->second.status, qPrintable(body.value("error").toString()));
    }
  }
  for (const std::string& name : offline) {
    worst = std::max(worst, int(kUnreachable));
    out[QString::fromStdString(name)] = QJsonObject{{"queued", true}};
    if (!json) std::printf("%s: offline: queued at the broker, runs when the site returns\n", name.c_str());
  }
  if (json) std::printf("%s\n", QJsonDocument(QJsonObject{{"sites", out}}).toJson(QJsonDocument::Compact).constData());
  return worst;
}

// Every site the broker kept a state of: online or not, its players, when last heard, its alerts.
int list_sites(const std::map<std::string, sites::SiteState>& known, bool json) {
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

}  // namespace

int sites_command(const BrokerOptions& o, const QStringList& args, bool json, Ctl* server) {
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
  const int timeout_s = o.timeout_s > 0 ? o.timeout_s : 10;
  if (!hub.connect(std::chrono::seconds(timeout_s), &why))
    return fail(QString("the broker cannot be reached: %1").arg(QString::fromStdString(why)), kUnreachable);
  const auto known = hub.sites(std::chrono::milliseconds(500));
  if (args.value(0) == "publish") {
    if (o.site.isEmpty()) return usage("publish needs --site NAME|all");
    return publish(o, args, json, server, hub, known);
  }

  if (args.value(0) == "sites") return args.size() == 1 ? list_sites(known, json) : usage("--broker URL sites");
  if (o.site.isEmpty()) return usage("through the broker, a command needs --site NAME|all (or is \"sites\")");
  std::vector<std::string> targets;
  if (o.site == "all") {
    for (const auto& [name, site] : known) targets.push_back(name);
    if (targets.empty()) return fail("the broker knows no site", kRefused);
  } else {
    if (!sites::valid_site_name(o.site.toStdString()) || o.site == "all")
      return usage("a site's name is 1-64 of a-z, 0-9, '-', '_' and '.'");
    // The broker keeps requests only for a site it knows: one never seen would lose them.
    if (!known.contains(o.site.toStdString()))
      return fail(QString("no site named \"%1\" has reported to this broker").arg(o.site), kRefused);
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
      sites::Request request;
      request.site = name;
      request.method = method;
      request.path = path;
      request.query = query;
      request.body = body;
      const auto replies = hub.request(std::move(request), expect,
                                       online ? std::chrono::milliseconds(timeout_s * 1000) : std::chrono::milliseconds(0));
      Reply reply;
      if (const auto r = replies.find(name); r != replies.end()) {
        reply.status = r->second.status;
        reply.body = r->second.body;
      } else {
        reply.error = online ? QString("%1 did not reply within %2 s; the request may still run")
                                   .arg(QString::fromStdString(name)).arg(timeout_s).toStdString()
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
