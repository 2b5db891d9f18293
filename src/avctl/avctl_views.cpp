#include "avctl/avctl_views.h"

namespace tavri::avctl {

QString duration_text(const QJsonValue& seconds) {
  if (!seconds.isDouble() || seconds.toDouble() < 0) return "-";
  const qint64 s = qRound64(seconds.toDouble());
  const QString ms = QString("%1:%2").arg((s / 60) % 60).arg(s % 60, 2, 10, QChar('0'));
  return s >= 3600 ? QString("%1:%2").arg(s / 3600).arg(ms.rightJustified(5, '0')) : ms;
}

namespace {

// "items 3": the playlist's items in order, each with its length and dates, and the whole length.
int show_items(Ctl& ctl, const QString& id, bool json) {
  QJsonDocument doc;
  if (int rc = ctl.call("GET", "/api/playlists/" + QUrl::toPercentEncoding(id), {}, &doc); rc || json) return rc;
  const QJsonObject list = doc.object();
  QList<QStringList> rows{{"#", "FILE", "KIND", "LENGTH", "FROM", "UNTIL", "NOT PLAYING"}};
  double total = 0;
  int n = 0;
  for (const QJsonValue& v : list.value("items").toArray()) {
    const QJsonObject item = v.toObject();
    total += std::max(0.0, item.value("file_length").toDouble());
    rows << QStringList{QString::number(++n), cell(item["file"]), cell(item["file_kind"]),
                        duration_text(item["file_length"]), cell(item["first_date"]), cell(item["last_date"]),
                        cell(item["not_playing"])};
  }
  std::printf("%s: %d item(s), %s in all\n", escaped(list.value("name").toString()).c_str(), n,
              qPrintable(duration_text(total)));
  print_table(rows);
  return kOk;
}

// "history ID [--hours N]": the uptime and what happened to one player.
int show_history(Ctl& ctl, QStringList args, bool json) {
  QString hours = "24";
  if (const int at = static_cast<int>(args.indexOf("--hours")); at >= 0) {
    if (at + 1 >= args.size()) return usage("history ID [--hours N]");
    hours = args[at + 1];
    args.remove(at, 2);
  }
  if (args.size() != 1) return usage("history ID [--hours N]");
  QJsonDocument doc;
  const QString target = "/api/history/players/" + QUrl::toPercentEncoding(args[0]) + "?hours=" + QUrl::toPercentEncoding(hours);
  if (int rc = ctl.call("GET", target, {}, &doc); rc || json) return rc;
  const QJsonObject h = doc.object();
  std::printf("%s: uptime over 24 h %s\n", escaped(h.value("id").toString()).c_str(),
              h.value("uptime_24h").isString() ? qPrintable(h.value("uptime_24h").toString()) : "not known yet");
  QList<QStringList> rows{{"TIME", "EVENT", "DETAIL"}};
  for (const QJsonValue& v : h.value("events").toArray()) {
    const QJsonObject e = v.toObject();
    const QString when = QDateTime::fromString(e.value("time").toString(), Qt::ISODateWithMs).toLocalTime()
                             .toString("yyyy-MM-dd HH:mm:ss");
    rows << QStringList{when, cell(e["kind"]), cell(e["detail"])};
  }
  print_table(rows);
  return kOk;
}

// "playlists [TEXT]", "schedules [TEXT]": the catalogue, or the lists whose names hold TEXT.
int show_catalogue(Ctl& ctl, const QString& which, const QStringList& args, bool json) {
  if (args.size() > 1) return usage(qPrintable(which + " [TEXT]"));
  const QString text = args.value(0);
  QJsonDocument doc;
  const bool quiet = !text.isEmpty() && json;  // searched: only what matches is printed, as JSON too
  if (int rc = quiet ? ctl.quietly([&] { return ctl.call("GET", "/api/" + which, {}, &doc); })
                     : ctl.call("GET", "/api/" + which, {}, &doc);
      rc || (json && !quiet))
    return rc;
  QJsonArray found;
  for (const QJsonValue& v : doc.array())
    if (text.isEmpty() || v.toObject().value("name").toString().contains(text, Qt::CaseInsensitive)) found.append(v);
  if (json) return std::printf("%s\n", QJsonDocument(found).toJson(QJsonDocument::Compact).constData()), kOk;
  QList<QStringList> rows{{"ID", "NAME"}};
  if (which == "schedules") rows[0] << "TASKS";
  for (const QJsonValue& v : found) {
    const QJsonObject o = v.toObject();
    QStringList row{cell(o["id"]), cell(o["name"])};
    if (which == "schedules") row << cell(o["tasks"]);
    rows << row;
  }
  print_table(rows);
  return kOk;
}

// "log [--lines N]": what the server logged lately, in local time.
int show_log(Ctl& ctl, const QStringList& args, bool json) {
  QString lines = "100";
  if (args.size() == 2 && args[0] == "--lines") lines = args[1];
  else if (!args.isEmpty()) return usage("log [--lines N]");
  QJsonDocument doc;
  if (int rc = ctl.call("GET", "/api/log?lines=" + QUrl::toPercentEncoding(lines), {}, &doc); rc || json) return rc;
  for (const QJsonValue& v : doc.object().value("lines").toArray()) {
    const QJsonObject line = v.toObject();
    const QString when = QDateTime::fromString(line.value("time").toString(), Qt::ISODateWithMs).toLocalTime()
                             .toString("yyyy-MM-dd HH:mm:ss");
    std::printf("%s  %s\n", qPrintable(when), escaped(line.value("text").toString()).c_str());
  }
  return kOk;
}

}  // namespace

std::optional<int> view_command(Ctl& ctl, const QString& command, const QStringList& args, bool json) {
  if (command == "items" && args.size() == 1) return show_items(ctl, args[0], json);
  if (command == "history") return show_history(ctl, args, json);
  if (command == "log") return show_log(ctl, args, json);
  if (command == "playlists" || command == "schedules") return show_catalogue(ctl, command, args, json);
  return std::nullopt;
}

}  // namespace tavri::avctl
