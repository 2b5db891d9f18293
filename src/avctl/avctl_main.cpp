// tavri-avctl: the server's JSON API from the command line.
#include <QDate>
#include <map>
#include <optional>

#include "avctl/avctl_ctl.h"
#include "avctl/avctl_fleet.h"
#include "avctl/avctl_people.h"
#include "avctl/avctl_sites.h"
#include "avctl/avctl_views.h"

using namespace tavri::avctl;


// One command against one server (or one site, through the broker).
int tavri::avctl::run_command(Ctl& ctl, QStringList args, bool json) {
  const QString command = args.takeFirst();
  // A change to a list made only if it is still the version a script read
  // (its "etag" in "--json playlists"); otherwise refused with status 1.
  if (const int at = static_cast<int>(args.indexOf("--if-match")); at >= 0) {
    if (at + 1 >= args.size()) return usage("--if-match needs the version (\"etag\") a list was read at");
    ctl.set_if_match(args[at + 1].toStdString());
    args.remove(at, 2);
  }
  if (command == "proof-of-play") {
    QUrlQuery query;
    for (int i = 0; i < args.size(); ++i) {
      if (args[i] == "--totals") query.addQueryItem("totals", "true");
      else if ((args[i] == "--from" || args[i] == "--to" || args[i] == "--players") && i + 1 < args.size()) {
        query.addQueryItem(args[i].mid(2), args[i + 1]);
        ++i;
      }
      else return usage("proof-of-play --from YYYY-MM-DD --to YYYY-MM-DD [--totals] [--players ID,ID...]");
    }
    QByteArray csv;
    const int rc = ctl.raw("/api/history/proof-of-play?" + query.toString(QUrl::FullyEncoded), csv);
    if (rc == kOk) std::fwrite(csv.constData(), 1, static_cast<std::size_t>(csv.size()), stdout);
    return rc;
  }
  if (const auto rc = people_command(ctl, command, args, json)) return *rc;
  // --wait: follow a command until every player confirmed it or it failed.
  const bool wait = args.removeAll("--wait") > 0;
  // "--to all" or "--to ID ID ..." at the end of a command's arguments.
  QStringList to;
  if (const int at = static_cast<int>(args.indexOf("--to")); at >= 0) {
    to = args.mid(at + 1);
    args = args.mid(0, at);
    if (to.isEmpty()) return usage("--to needs \"all\" or player ids");
  }
  if (command == "status") return ctl.status();
  if (command == "password") {
    if (!args.isEmpty()) return usage("password (then type it)");
    const std::string password = read_secret("New password of the console's admin account: ");
    if (::isatty(STDIN_FILENO) && read_secret("The same again: ") != password) {
      std::fprintf(stderr, "tavri-avctl: the two passwords differ; nothing was changed\n");
      return kRefused;
    }
    return ctl.acted(ctl.call("PUT", "/api/password", {{"password", QString::fromStdString(password)}}, nullptr),
                     "password set: every browser signed in before must sign in again");
  }
  if (command == "players") return ctl.players();
  if (const auto rc = view_command(ctl, command, args, json)) return *rc;
  if (const auto rc = fleet_command(ctl, command, args, to, json)) return *rc;
  if (command == "events") return ctl.events();
  if (command == "save-all") return ctl.acted(ctl.call("POST", "/api/save-all", {}, nullptr), "saving");
  if (command == "content") return ctl.content();
  if (command == "rescan") return ctl.acted(ctl.call("POST", "/api/rescan", {}, nullptr), "scanning");
  if (command == "folder") {
    if (args.size() > 1) return usage("folder [PATH]");
    if (args.isEmpty()) {
      QJsonDocument doc;
      const int rc = ctl.call("GET", "/api/folder", {}, &doc);
      if (rc == kOk && !json) std::printf("%s\n", qPrintable(doc.object()["path"].toString()));
      return rc;
    }
    return ctl.acted(ctl.call("PUT", "/api/folder", {{"path", QFileInfo(args[0]).absoluteFilePath()}}, nullptr),
                     "folder chosen");
  }
  if (command == "upload") {
    const bool replace = args.removeAll("--replace") > 0;
    if (args.isEmpty()) return usage("upload [--replace] FILE...");
    return ctl.upload(args, replace);
  }
  if (command == "stream") {
    if (args.size() != 2) return usage("stream NAME ADDRESS");
    return ctl.acted(ctl.call("POST", "/api/content/streams", {{"name", args[0]}, {"address", args[1]}}, nullptr),
                     "stream added");
  }
  if (command == "delete") {
    const bool unlink = args.removeAll("--unlink") > 0, keep = args.removeAll("--keep-items") > 0;
    if (args.size() != 1 || (unlink && keep)) return usage("delete FILE [--unlink|--keep-items]");
    const QString query = unlink ? "?unlink=true" : keep ? "?unlink=false" : "";
    return ctl.acted(ctl.call("DELETE", "/api/content/" + QUrl::toPercentEncoding(args[0]) + query, {}, nullptr),
                     "deleted");
  }
  if (command == "items") {
    if (args.isEmpty()) return usage("items PLAYLIST-ID FILE[:SECONDS][@FIRST..LAST]...");
    QJsonArray items;
    for (QString item : args.mid(1)) {
      // "promo.png:8@2026-12-01..2026-12-13": plays those days only; either end may be left out.
      QJsonObject entry;
      if (const qsizetype at = item.lastIndexOf('@'); at > 0 && item.indexOf("..", at) > at) {
        const QStringList dates = item.mid(at + 1).split("..");
        if (!dates[0].isEmpty()) entry["first_date"] = dates[0];
        if (!dates[1].isEmpty()) entry["last_date"] = dates[1];
        item.truncate(at);
      }
      const qsizetype colon = item.lastIndexOf(':');
      bool numeric = false;
      const int seconds = colon > 0 ? item.mid(colon + 1).toInt(&numeric) : 0;
      entry["file"] = numeric ? item.left(colon) : item;
      if (numeric) entry["seconds"] = seconds;
      items.append(entry);
    }
    return ctl.acted(ctl.call("PUT", "/api/playlists/" + QUrl::toPercentEncoding(args[0]) + "/items", {{"items", items}},
                              nullptr),
                     "items set");
  }
  if (command == "backup") return args.size() == 1 ? ctl.save_to("/api/backup", args[0], "backup") : usage("backup FILE");
  if (command == "restore")
    return args.size() == 1 ? ctl.send_file("/api/restore", args[0], "restored: the service restarts with it")
                            : usage("restore FILE");
  if (command == "export") return args.size() == 1 ? ctl.save_to("/api/export", args[0], "export") : usage("export FILE");
  if (command == "import")
    return args.size() == 1 ? ctl.send_file("/api/import", args[0], "imported: every playlist and schedule was replaced")
                            : usage("import FILE");
  if ((command == "playlist" || command == "schedule") && !args.isEmpty()) {
    const QString what = args.takeFirst();
    const QString base = "/api/" + command + "s";
    QJsonDocument doc;
    int rc = kUsage;
    if (what == "create" && args.size() == 1)
      rc = ctl.call("POST", base, {{"name", args[0]}}, &doc);
    else if (what == "rename" && args.size() == 2)
      rc = ctl.call("PATCH", base + "/" + args[0], {{"name", args[1]}}, &doc);
    else if (what == "copy" && args.size() == 1)
      rc = ctl.call("POST", base + "/" + args[0] + "/copy", {}, &doc);
    else if (what == "fallback" && command == "schedule" && args.size() == 2)
      return ctl.acted(ctl.call("PATCH", base + "/" + args[0],
                                {{"fallback", args[1] == "none" ? QJsonValue(-1) : QJsonValue(args[1].toInt())}}, nullptr),
                       "fallback set");
    else if (what == "remove" && args.size() == 1)
      rc = ctl.call("DELETE", base + "/" + args[0], {}, &doc);
    else
      return usage(qPrintable(command + " create NAME | rename ID NAME | copy ID | remove ID"));
    if (rc == kOk && !json && doc.object().contains("id"))
      std::printf("%s %lld\n", qPrintable(command), static_cast<long long>(doc.object()["id"].toInteger()));
    return rc;
  }
  if (command == "send") {
    if (args.size() != 2 || (args[0] != "playlist" && args[0] != "schedule") || to.isEmpty())
      return usage("send playlist|schedule NAME|ID --to all|ID...");
    bool numeric = false;
    const qint64 id = args[1].toLongLong(&numeric);
    QJsonObject body{{args[0], numeric ? QJsonValue(double(id)) : QJsonValue(args[1])}, {"players", players_value(to)}};
    return ctl.sent("/api/send", body, wait);
  }
  if (command == "rename") {
    if (args.size() != 2) return usage("rename ID NAME");
    return ctl.acted(ctl.call("PATCH", "/api/players/" + QUrl::toPercentEncoding(args[0]), {{"name", args[1]}}, nullptr),
                     "renamed");
  }
  if (command == "accept-address") {
    if (args.size() != 1) return usage("accept-address ID");
    return ctl.acted(ctl.call("POST", "/api/players/" + QUrl::toPercentEncoding(args[0]) + "/accept-address", {}, nullptr),
                     "accepted: its reports from the new address are taken");
  }
  if (command == "remove") {
    if (args.isEmpty()) return usage("remove ID...");
    for (const QString& id : args)
      if (int rc = ctl.call("DELETE", "/api/players/" + QUrl::toPercentEncoding(id), {}, nullptr)) return rc;
    return ctl.acted(kOk, "removed");
  }
  // Every other command goes to players by name.
  QJsonObject body{{"command", command}};
  if (command != "feedback") {
    if (to.isEmpty()) return usage(qPrintable(QString("%1 needs --to all|ID...").arg(command)));
    body["players"] = players_value(to);
  }
  if (!args.isEmpty()) body["arguments"] = QJsonArray::fromStringList(args);
  return ctl.sent("/api/commands", body, wait);
}

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  QString url = qEnvironmentVariableIsEmpty("TAVRI_API_URL") ? "http://127.0.0.1:5080"
                                                              : QString::fromLocal8Bit(qgetenv("TAVRI_API_URL"));
  QString token_file, ca_file, timeout;
  BrokerOptions broker;
  const std::map<QString, QString*> valued = {
      {"--url", &url},           {"--token-file", &token_file},  {"--ca-file", &ca_file},
      {"--broker", &broker.url}, {"--site", &broker.site},        {"--hub-key", &broker.hub_key},
      {"--broker-user", &broker.user}, {"--broker-password-file", &broker.password_file},
      {"--broker-ca", &broker.ca_file}, {"--broker-cert", &broker.cert_file}, {"--broker-key", &broker.key_file},
      {"--timeout", &timeout}};
  bool json = false;
  // The general options stand before or after the command; a command's
  // own options (--to, --replace, ...) are its business.
  bool command_seen = false;
  for (int i = 0; i < args.size();) {
    const QString option = args[i];
    if (option == "--to") break;  // player ids follow, to the end
    if (option == "--json") json = true;
    else if (option == "--help") return usage(), kOk;
    else if (option == "--version") return std::printf("tavri-avctl %s\n", TAVRI_VERSION), kOk;
    else if (valued.contains(option)) {
      if (i + 1 >= args.size()) return usage(qPrintable(QString("%1 needs a value").arg(option)));
      *valued.at(option) = args[i + 1];
      args.remove(i, 2);
      continue;
    } else if (!command_seen && option.startsWith("--")) {
      return usage(qPrintable(QString("unknown option %1").arg(option)));
    } else {
      command_seen = true;
      ++i;
      continue;
    }
    args.remove(i);
  }
  if (args.isEmpty()) return usage("no command given");
  if (!kCommands.contains(args.first()))
    return usage(qPrintable(QString("unknown command \"%1\"").arg(QString::fromStdString(
                     tavri::text_rule::escape_controls(args.first().toStdString())))));
  if (args.first() == "hub-key") return hub_key_command(args.mid(1));
  if (!timeout.isEmpty()) {
    bool number = false;
    broker.timeout_s = timeout.toInt(&number);
    if (!number || broker.timeout_s < 1 || broker.timeout_s > 3600) return usage("--timeout takes 1 to 3600 seconds");
  }
  if (args.first() == "sites" || args.first() == "publish" || !broker.site.isEmpty()) {
    if (broker.url.isEmpty()) return usage("sites, publish and --site need --broker URL");
  } else if (!broker.url.isEmpty()) {
    return usage("through the broker, a command needs --site NAME|all");
  }
  // The hub's own server: the API, and for publish the origin of the media.
  const bool server = broker.url.isEmpty() || (args.first() == "publish" && !args.contains("--no-upload"));
  std::optional<Ctl> ctl;
  if (server) {
    const QUrl parsed(url);
    if ((parsed.scheme() != "http" && parsed.scheme() != "https") || parsed.host().isEmpty())
      return usage("the URL must be http://HOST:PORT or https://HOST:PORT");
    QFile file(token_path(token_file));
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "tavri-avctl: cannot read the token file %s: %s\n", qPrintable(file.fileName()),
                   qPrintable(file.errorString()));
      return kUnauthorized;
    }
    const std::string token = file.readAll().trimmed().toStdString();
    const tavri::avctl::Endpoint endpoint{parsed.host().toStdString(), std::to_string(parsed.port(5080)),
                                          parsed.scheme() == "https", QFile::encodeName(ca_file).toStdString()};
    ctl.emplace(tavri::avctl::ApiClient(endpoint, token), json);
    broker.hub_url = url;
  }
  if (!broker.url.isEmpty()) return sites_command(broker, args, json, ctl ? &*ctl : nullptr);
  return run_command(*ctl, args, json);
}
