// tavri-avctl: the server's JSON API from the command line.
#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>
#include <cstdio>
#include <cstdlib>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "avctl/api_client.h"
#include "avctl/avctl_tasks.h"
#include "avctl/avctl_usage.h"
#include "core/text_rule.h"

namespace {

using namespace tavri::avctl;

QString token_path(const QString& given) {
  if (!given.isEmpty()) return given;
  if (const char* env = std::getenv("TAVRI_TOKEN_FILE"); env && *env) return QString::fromLocal8Bit(env);
  const QString data_home = qEnvironmentVariableIsEmpty("XDG_DATA_HOME")
                                ? QString::fromLocal8Bit(qgetenv("HOME")) + "/.local/share"
                                : QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
  for (const QString& p : {data_home + "/tavri_av_server/api_token", QString("/var/lib/tavri-av-server/api_token")})
    if (QFile::exists(p)) return p;
  return data_home + "/tavri_av_server/api_token";
}

QString pad(const QString& text, int width) { return text.left(width).leftJustified(width); }

void print_table(const QList<QStringList>& rows) {
  QList<int> widths;
  for (const auto& row : rows)
    for (int i = 0; i < row.size(); ++i) {
      if (widths.size() <= i) widths << 0;
      widths[i] = std::min(40, std::max(widths[i], static_cast<int>(row[i].size())));
    }
  for (const auto& row : rows) {
    QStringList cells;
    // What a player calls itself reaches the terminal as text, never as
    // a control sequence.
    for (int i = 0; i < row.size(); ++i) {
      const QString shown = QString::fromStdString(tavri::text_rule::escape_controls(row[i].toStdString()));
      cells << (i + 1 == row.size() ? shown : pad(shown, widths[i]));
    }
    std::printf("%s\n", cells.join("  ").toUtf8().constData());
  }
}

QString cell(const QJsonValue& v) {
  if (v.isNull() || v.isUndefined()) return "-";
  if (v.isBool()) return v.toBool() ? "yes" : "no";
  if (v.isDouble()) return QString::number(v.toDouble());
  return v.toString();
}

// Says why a reply is no answer (the server's error, naming the argument
// at fault) and gives the exit status; kOk for an answer.
int failure(const tavri::avctl::Reply& reply) {
  if (reply.status == 0) {
    std::fprintf(stderr, "tavri-avctl: the server cannot be reached: %s\n", reply.error.c_str());
    return kUnreachable;
  }
  if (reply.status < 300) return kOk;
  const QJsonObject e = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object();
  const QString field = e.value("field").toString();
  std::fprintf(stderr, "tavri-avctl: %s%s\n", e.value("error").toString().toUtf8().constData(),
               field.isEmpty() ? "" : QString(" (%1)").arg(field).toUtf8().constData());
  return reply.status == 401 ? kUnauthorized : reply.status >= 500 ? kServerError : kRefused;
}

// One line from the terminal without echo, or from a pipe as it is.
std::string read_secret(const char* prompt) {
  const bool terminal = ::isatty(STDIN_FILENO);
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "%s", prompt);
    std::fflush(stderr);
    ::tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  for (int c; (c = std::getchar()) != EOF && c != '\n';) line += static_cast<char>(c);
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fprintf(stderr, "\n");
  }
  return line;
}

class Ctl {
 public:
  Ctl(tavri::avctl::ApiClient client, bool json) : client_(std::move(client)), json_(json) {}

  // Calls the API; prints a refusal and gives its exit status.
  int call(const char* method, const QString& target, const QJsonObject& body, QJsonDocument* out) {
    const auto reply = client_.call(method, target.toStdString(),
                                    body.isEmpty() ? std::string() : QJsonDocument(body).toJson().toStdString());
    if (int rc = failure(reply)) return rc;
    if (out) *out = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body));
    if (json_) std::printf("%s\n", reply.body.c_str());
    return kOk;
  }

  // A GET whose answer is not JSON (CSV).
  int raw(const QString& target, QByteArray& out) {
    const auto reply = client_.call("GET", target.toStdString());
    if (int rc = failure(reply)) return rc;
    out = QByteArray::fromStdString(reply.body);
    return kOk;
  }

  int players() {
    QJsonDocument doc;
    if (int rc = call("GET", "/api/players", {}, &doc); rc || json_) return rc;
    QList<QStringList> rows{{"ID", "NAME", "STATE", "PLAYBACK", "IP", "LIST", "TRACK", "COMMAND", "LAST SEEN"}};
    for (const QJsonValue& v : doc.array()) {
      const QJsonObject p = v.toObject();
      const QJsonObject list = p.value("list").toObject();
      const QString kind = list.value("kind").toString() == "schedule" ? " (schedule)" : "";
      const QString list_text = list.value("id").toString().isEmpty()
                                    ? "-"
                                    : list.value("id").toString() + " " +
                                          (list.value("name").isNull() ? "(unknown)" : list.value("name").toString() + kind);
      const QString ip = p["claimed_by"].isString()
                             ? cell(p["ip"]) + " (also heard from " + p["claimed_by"].toString() + "!)"
                             : cell(p["ip"]);
      rows << QStringList{cell(p["id"]), cell(p["name"]),  cell(p["state"]),   cell(p["playback"]), ip,
                          list_text,     cell(p["track"]), cell(p["command"]), cell(p["last_seen"])};
    }
    print_table(rows);
    return kOk;
  }

  int status() {
    QJsonDocument players;
    const auto reply = client_.call("GET", "/readyz");
    if (reply.status == 0) return failure(reply);
    if (int rc = call("GET", "/api/players", {}, json_ ? nullptr : &players); rc || json_) return rc;
    int online = 0;
    for (const QJsonValue& v : players.array()) online += v.toObject().value("online").toBool();
    std::printf("server: %s\nplayers: %d online, %d offline\n", reply.status == 200 ? "ready" : "not ready",
                online, static_cast<int>(players.array().size()) - online);
    return reply.status == 200 ? kOk : kServerError;
  }

  int catalogue(const QString& which) {
    QJsonDocument doc;
    if (int rc = call("GET", "/api/" + which, {}, &doc); rc || json_) return rc;
    QList<QStringList> rows{{"ID", "NAME"}};
    if (which == "schedules") rows[0] << "TASKS";
    for (const QJsonValue& v : doc.array()) {
      const QJsonObject o = v.toObject();
      QStringList row{cell(o["id"]), cell(o["name"])};
      if (which == "schedules") row << cell(o["tasks"]);
      rows << row;
    }
    print_table(rows);
    return kOk;
  }

  int content() {
    QJsonDocument doc;
    if (int rc = call("GET", "/api/content", {}, &doc); rc || json_) return rc;
    QList<QStringList> rows{{"FILE", "KIND", "LENGTH", "SIZE", "PLAYLISTS"}};
    for (const QJsonValue& v : doc.array()) {
      const QJsonObject o = v.toObject();
      QStringList lists;
      for (const QJsonValue& id : o["playlists"].toArray()) lists << cell(id);
      rows << QStringList{cell(o["file"]), cell(o["file_kind"]), cell(o["file_length"]), cell(o["file_size"]),
                          lists.isEmpty() ? "-" : lists.join(",")};
    }
    print_table(rows);
    return kOk;
  }

  int upload(const QStringList& files, bool replace) {
    // A bar on a terminal; scripts get one line per file.
    const bool bar = isatty(fileno(stderr)) && !json_;
    for (const QString& path : files) {
      const QString name = QFileInfo(path).fileName();
      const QString target = "/api/content/" + QUrl::toPercentEncoding(name) + (replace ? "?replace=true" : "");
      const auto reply = client_.upload(target.toStdString(), QFile::encodeName(path).toStdString(),
                                        [&](std::uint64_t sent, std::uint64_t total) {
                                          if (!bar) return;
                                          const int percent = total ? int(sent * 100 / total) : 100;
                                          std::fprintf(stderr, "\r%-30s [%-40s] %3d%%", qPrintable(name.left(30)),
                                                       QByteArray(percent * 40 / 100, '#').constData(), percent);
                                        });
      if (bar) std::fputs("\n", stderr);
      if (reply.status == 0 && reply.error.rfind(QFile::encodeName(path).toStdString(), 0) == 0) {
        std::fprintf(stderr, "tavri-avctl: %s\n", reply.error.c_str());
        return kUsage;
      }
      if (int rc = failure(reply)) return rc;
      std::printf("%s\n", json_ ? reply.body.c_str() : qPrintable("uploaded " + name));
    }
    return kOk;
  }

  // backup and export: a route's bytes into a file, whole or not at all.
  int save_to(const char* route, const QString& path, const char* what) {
    QByteArray archive;
    if (int rc = raw(route, archive)) return rc;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(archive) != archive.size() || !out.commit()) {
      std::fprintf(stderr, "tavri-avctl: %s: %s\n", qPrintable(path), qPrintable(out.errorString()));
      return kRefused;
    }
    if (!json_) std::printf("%s written: %s (%lld bytes)\n", what, qPrintable(path), static_cast<long long>(archive.size()));
    return kOk;
  }

  // restore and import: a file sent whole to a route.
  int send_file(const char* route, const QString& path, const char* done) {
    const auto reply = client_.upload(route, QFile::encodeName(path).toStdString(), [](auto, auto) {});
    if (reply.status == 0 && reply.error.rfind(QFile::encodeName(path).toStdString(), 0) == 0) {
      std::fprintf(stderr, "tavri-avctl: %s\n", reply.error.c_str());
      return kUsage;
    }
    if (int rc = failure(reply)) return rc;
    std::printf("%s\n", json_ ? reply.body.c_str() : done);
    return kOk;
  }

  int acted(int rc, const char* what) {
    if (rc == kOk && !json_) std::printf("%s\n", what);
    return rc;
  }

  void print_event(const std::string& event, const std::string& data) {
    if (json_)
      std::printf("{\"event\":\"%s\",\"data\":%s}\n", event.c_str(), data.c_str());
    else
      std::printf("%s %s\n", event.c_str(), tavri::text_rule::escape_controls(data).c_str());
  }

  void set_if_match(std::string etag) { client_.set_if_match(std::move(etag)); }

  // A command or list sent: said as what it is ("sent, not confirmable"
  // when no feedback shows it), and with `wait`, followed until every
  // player confirmed it or it failed; 1 when any failed.
  int sent(const QString& route, const QJsonObject& body, bool wait) {
    QJsonDocument doc;
    const bool json = std::exchange(json_, false);
    const int rc = call("POST", route, body, &doc);
    json_ = json;
    if (rc != kOk) return rc;
    const QJsonObject answer = doc.object();
    if (json_ && !wait) return std::printf("%s\n", doc.toJson(QJsonDocument::Compact).constData()), kOk;
    const QString name = answer.value("command").toString();
    if (!answer.value("confirmable").toBool()) {
      std::printf("%s: sent, not confirmable (the players' feedback does not show it)\n", qPrintable(name));
      return kOk;
    }
    if (!wait) return std::printf("%s: sent\n", qPrintable(name)), kOk;
    QStringList targets;
    for (const QJsonValue& id : answer.value("players").toArray()) targets << id.toString();
    QStringList failed;
    int pending = static_cast<int>(targets.size());
    // The server gives up on a command within about a minute.
    for (int second = 0; second < 180 && pending > 0; ++second) {
      if (second > 0) ::sleep(1);
      QJsonDocument players;
      const bool quiet = std::exchange(json_, false);
      const int got = call("GET", "/api/players", {}, &players);
      json_ = quiet;
      if (got != kOk) return got;
      pending = 0;
      failed.clear();
      for (const QJsonValue& v : players.array()) {
        const QJsonObject p = v.toObject();
        if (!targets.contains(p.value("id").toString())) continue;
        for (const QString& part : p.value("command").toString().split("; "))
          if (part.startsWith(name + " ")) {
            if (part.contains("failed")) failed << p.value("id").toString() + " (" + part.mid(name.size() + 1) + ")";
            else ++pending;
          }
      }
    }
    const auto confirmed = targets.size() - failed.size() - pending;
    std::printf("%s: %lld of %lld confirmed", qPrintable(name), static_cast<long long>(confirmed),
                static_cast<long long>(targets.size()));
    if (!failed.isEmpty()) std::printf(", %lld failed: %s", static_cast<long long>(failed.size()), qPrintable(failed.join(", ")));
    if (pending > 0) std::printf(", %d still pending", pending);
    std::printf("\n");
    return failed.isEmpty() && pending == 0 ? kOk : kRefused;
  }

  int events() {
    const std::string failure = client_.follow("/api/events", [this](const std::string& event, const std::string& data) {
      print_event(event, data);
      // Events were dropped for us: the players as they are now stand in
      // for them, so no outage goes unseen.
      if (event == "resync") {
        const auto players = client_.call("GET", "/api/players");
        if (players.status == 200) print_event("players", players.body);
      }
      std::fflush(stdout);
      return true;
    });
    std::fprintf(stderr, "tavri-avctl: %s\n", failure.c_str());
    return failure.find("401") != std::string::npos ? kUnauthorized : kUnreachable;
  }

 private:
  tavri::avctl::ApiClient client_;
  bool json_;
};

// What a server sent, for a terminal: no control character gets through.
std::string escaped(const QString& text) { return tavri::text_rule::escape_controls(text.toStdString()); }

// "--to all", or ids and "@GROUP" for every member of a group.
QJsonValue players_value(const QStringList& to) {
  if (to.size() == 1 && to.first() == "all") return "all";
  QJsonArray targets;
  for (const QString& t : to) targets.append(t.startsWith('@') ? "group:" + t.mid(1) : t);
  return targets;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  QString url = qEnvironmentVariableIsEmpty("TAVRI_API_URL") ? "http://127.0.0.1:5080"
                                                              : QString::fromLocal8Bit(qgetenv("TAVRI_API_URL"));
  QString token_file, ca_file;
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
    else if (option == "--url" || option == "--token-file" || option == "--ca-file") {
      if (i + 1 >= args.size()) return usage(qPrintable(QString("%1 needs a value").arg(option)));
      (option == "--url" ? url : option == "--ca-file" ? ca_file : token_file) = args[i + 1];
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
  Ctl ctl(tavri::avctl::ApiClient(endpoint, token), json);

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
    const std::string password = read_secret("New web console password: ");
    if (::isatty(STDIN_FILENO) && read_secret("The same again: ") != password) {
      std::fprintf(stderr, "tavri-avctl: the two passwords differ; nothing was changed\n");
      return kRefused;
    }
    return ctl.acted(ctl.call("PUT", "/api/password", {{"password", QString::fromStdString(password)}}, nullptr),
                     "password set: every browser signed in before must sign in again");
  }
  if (command == "players") return ctl.players();
  if (command == "groups") {
    QJsonDocument doc;
    const int rc = ctl.call("GET", "/api/groups", {}, &doc);
    if (rc != kOk || json) return rc;
    for (const QJsonValue& g : doc.array()) {
      const QJsonObject o = g.toObject();
      QStringList members;
      for (const QJsonValue& id : o["players"].toArray()) members << id.toString();
      std::printf("%s\t%d online, %d offline\t%s\n", escaped(o["name"].toString()).c_str(), o["online"].toInt(),
                  o["offline"].toInt(), escaped(members.join(' ')).c_str());
    }
    return rc;
  }
  if (command == "group" && !args.isEmpty()) {
    const QString what = args.takeFirst();
    if (what == "create" && args.size() == 1)
      return ctl.acted(ctl.call("POST", "/api/groups", {{"name", args[0]}}, nullptr), "group made");
    if (what == "remove" && args.size() == 1)
      return ctl.acted(ctl.call("DELETE", "/api/groups/" + QUrl::toPercentEncoding(args[0]), {}, nullptr), "group removed");
    if ((what == "add" || what == "take-out") && args.size() >= 2)
      return ctl.acted(ctl.call("POST", "/api/groups/" + QUrl::toPercentEncoding(args[0]) + (what == "add" ? "/add" : "/remove"),
                                {{"players", players_value(args.mid(1))}}, nullptr),
                       what == "add" ? "added" : "taken out");
    return usage("group create NAME | remove NAME | add NAME ID... | take-out NAME ID...");
  }
  if (command == "playlists" || command == "schedules") return ctl.catalogue(command);
  if (command == "tasks") {
    if (args.isEmpty()) return usage("tasks SCHEDULE-ID [TASK...]");
    const QString route = "/api/schedules/" + QUrl::toPercentEncoding(args.takeFirst());
    if (args.isEmpty()) {
      QJsonDocument doc;
      if (int rc = ctl.call("GET", route, {}, &doc); rc || json) return rc;
      const int fallback = doc.object().value("fallback").toInt(-1);
      if (fallback != -1) std::printf("fallback playlist: %d\n", fallback);
      print_table(task_rows(doc.object()));
      return kOk;
    }
    QJsonArray tasks;
    for (const QString& spec : args) {
      QString why;
      const auto task = parse_task(spec, QDate::currentDate().toString("yyyy-MM-dd"), why);
      if (!task) return usage(why.toUtf8().constData());
      tasks.append(*task);
    }
    return ctl.acted(ctl.call("PUT", route + "/tasks", {{"tasks", tasks}}, nullptr), "tasks set");
  }
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
