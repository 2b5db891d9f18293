// tavri-avctl's commands for groups, schedules' tasks and announcements.
#include "avctl/avctl_fleet.h"

#include "avctl/avctl_tasks.h"

namespace tavri::avctl {

std::optional<int> fleet_command(Ctl& ctl, const QString& command, QStringList args, const QStringList& to, bool json) {
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
    for (const QString& text : args) {
      QString why;
      const auto task = parse_task(text, QDate::currentDate().toString("yyyy-MM-dd"), why);
      if (!task) return usage(why.toUtf8().constData());
      tasks.append(*task);
    }
    return ctl.acted(ctl.call("PUT", route + "/tasks", {{"tasks", tasks}}, nullptr), "tasks set");
  }

  if (command == "announce") {
    const char* how = "announce [playlist|schedule NAME|ID | stream URL | background FILE] [--minutes N] --to TARGETS | announce end";
    QJsonDocument doc;
    if (args.isEmpty() || (args == QStringList{"end"})) {
      const bool end = !args.isEmpty();
      if (int rc = ctl.call(end ? "DELETE" : "GET", "/api/announcement", {}, &doc); rc || json) return rc;
      if (end) return ctl.acted(kOk, "ended: every player was given back its own");
      const QJsonObject a = doc.object();
      if (!a["running"].toBool()) return ctl.acted(kOk, "no announcement is running");
      QStringList targets;
      for (const QJsonValue& t : a["targets"].toArray()) targets << t.toString();
      std::printf("%s\nto: %s (%d players)\nsince: %s\nuntil: %s\n", escaped(a["what"].toString()).c_str(),
                  escaped(targets.join(' ')).c_str(), static_cast<int>(a["players"].toArray().size()),
                  qPrintable(a["started"].toString()), a["ends"].isString() ? qPrintable(a["ends"].toString()) : "ended");
      return kOk;
    }
    QJsonObject body;
    if (const int at = static_cast<int>(args.indexOf("--minutes")); at >= 0 && at + 1 < args.size()) {
      bool number = false;
      body["minutes"] = args[at + 1].toInt(&number);
      if (!number) return usage(how);
      args.remove(at, 2);
    }
    if (args.size() != 2 || to.isEmpty() || (args[0] != "playlist" && args[0] != "schedule" && args[0] != "stream" && args[0] != "background"))
      return usage(how);
    bool numeric = false;
    const qint64 id = args[1].toLongLong(&numeric);
    body[args[0]] = numeric && (args[0] == "playlist" || args[0] == "schedule") ? QJsonValue(double(id)) : QJsonValue(args[1]);
    body["players"] = players_value(to);
    if (int rc = ctl.call("POST", "/api/announcement", body, &doc); rc || json) return rc;
    std::printf("announcing %s to %d players\n", escaped(doc.object()["what"].toString()).c_str(),
                static_cast<int>(doc.object()["players"].toArray().size()));
    return kOk;
  }
  return std::nullopt;
}

}  // namespace tavri::avctl
