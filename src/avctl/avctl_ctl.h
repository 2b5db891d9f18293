// The command line's link to the server: calls, replies and how they are
// shown on a terminal.
#pragma once
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
#include <string>
#include <utility>
#include "avctl/api_client.h"
#include "core/text_rule.h"
#include <termios.h>
#include <unistd.h>

#include "avctl/avctl_usage.h"

namespace tavri::avctl {
QString duration_text(const QJsonValue& seconds);
}

namespace tavri::avctl {

inline QString token_path(const QString& given) {
  if (!given.isEmpty()) return given;
  if (const char* env = std::getenv("TAVRI_TOKEN_FILE"); env && *env) return QString::fromLocal8Bit(env);
  const QString data_home = qEnvironmentVariableIsEmpty("XDG_DATA_HOME")
                                ? QString::fromLocal8Bit(qgetenv("HOME")) + "/.local/share"
                                : QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
  for (const QString& p : {data_home + "/tavri_av_server/api_token", QString("/var/lib/tavri-av-server/api_token")})
    if (QFile::exists(p)) return p;
  return data_home + "/tavri_av_server/api_token";
}

inline QString pad(const QString& text, int width) { return text.left(width).leftJustified(width); }

inline void print_table(const QList<QStringList>& rows) {
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

inline QString cell(const QJsonValue& v) {
  if (v.isNull() || v.isUndefined()) return "-";
  if (v.isBool()) return v.toBool() ? "yes" : "no";
  if (v.isDouble()) return QString::number(v.toDouble());
  return v.toString();
}

// Says why a reply is no answer (the server's error, naming the argument
// at fault) and gives the exit status; kOk for an answer.
inline int failure(const Reply& reply) {
  if (reply.status == 0) {
    std::fprintf(stderr, "tavri-avctl: the server cannot be reached: %s\n", reply.error.c_str());
    return kUnreachable;
  }
  if (reply.status < 300) return kOk;
  const QJsonObject e = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object();
  const QString field = e.value("field").toString();
  std::fprintf(stderr, "tavri-avctl: %s%s\n", e.value("error").toString().toUtf8().constData(),
               field.isEmpty() ? "" : QString(" (%1)").arg(field).toUtf8().constData());
  if (reply.status == 507) return kDiskFull;
  return reply.status == 401 ? kUnauthorized : reply.status >= 500 ? kServerError : kRefused;
}

// One line from the terminal without echo, or from a pipe as it is.
inline std::string read_secret(const char* prompt) {
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
    if (int rc = quietly([&] { return call("GET", "/api/players", {}, &players); })) return rc;
    int online = 0;
    for (const QJsonValue& v : players.array()) online += v.toObject().value("online").toBool();
    const int offline = static_cast<int>(players.array().size()) - online;
    if (json_) {
      // The whole answer: the server's readiness, the counts and the players.
      const QJsonObject out{{"ready", reply.status == 200},
                            {"server", QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object()},
                            {"online", online}, {"offline", offline}, {"players", players.array()}};
      std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    } else {
      std::printf("server: %s\nplayers: %d online, %d offline\n", reply.status == 200 ? "ready" : "not ready", online,
                  offline);
    }
    return reply.status == 200 ? kOk : kServerError;
  }

  // Runs calls whose answers are not printed as they come, even under --json.
  template <typename Calls>
  int quietly(Calls calls) {
    const bool json = std::exchange(json_, false);
    const int rc = calls();
    json_ = json;
    return rc;
  }

  int content() {
    QJsonDocument doc;
    if (int rc = call("GET", "/api/content", {}, &doc); rc || json_) return rc;
    QList<QStringList> rows{{"FILE", "KIND", "LENGTH", "SIZE", "PLAYLISTS"}};
    for (const QJsonValue& v : doc.array()) {
      const QJsonObject o = v.toObject();
      QStringList lists;
      for (const QJsonValue& id : o["playlists"].toArray()) lists << cell(id);
      rows << QStringList{cell(o["file"]), cell(o["file_kind"]), duration_text(o["file_length"]), cell(o["file_size"]),
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
    if (json_)
      std::printf("%s\n", QJsonDocument(QJsonObject{{"written", QFileInfo(path).absoluteFilePath()}, {"what", what},
                                                    {"bytes", double(archive.size())}})
                               .toJson(QJsonDocument::Compact)
                               .constData());
    else
      std::printf("%s written: %s (%lld bytes)\n", what, qPrintable(path), static_cast<long long>(archive.size()));
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
  bool json() const { return json_; }

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
inline std::string escaped(const QString& text) { return tavri::text_rule::escape_controls(text.toStdString()); }

// "--to all", or ids and "@GROUP" for every member of a group.
inline QJsonValue players_value(const QStringList& to) {
  if (to.size() == 1 && to.first() == "all") return "all";
  QJsonArray targets;
  for (const QString& t : to) targets.append(t.startsWith('@') ? "group:" + t.mid(1) : t);
  return targets;
}

}  // namespace tavri::avctl
