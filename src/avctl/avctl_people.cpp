// People, tokens and the audit log from the command line.
#include "avctl/avctl_people.h"

namespace tavri::avctl {

namespace {

// "--role operator" taken out of `args`; empty when not given.
QString take_option(QStringList& args, const QString& name) {
  const auto at = args.indexOf(name);
  if (at < 0 || at + 1 >= args.size()) return {};
  const QString value = args[at + 1];
  args.remove(at, 2);
  return value;
}

bool take_flag(QStringList& args, const QString& name) { return args.removeAll(name) > 0; }

// A new password: asked twice on a terminal, one line on stdin otherwise.
std::optional<QString> new_password(const char* whose) {
  const std::string password = read_secret(qPrintable(QString("New password for %1: ").arg(whose)));
  if (::isatty(STDIN_FILENO) && read_secret("The same again: ") != password) {
    std::fprintf(stderr, "tavri-avctl: the two passwords differ; nothing was changed\n");
    return std::nullopt;
  }
  return QString::fromStdString(password);
}

QString path_name(const QString& name) { return QString::fromUtf8(QUrl::toPercentEncoding(name)); }

int users(Ctl& ctl, QStringList args) {
  const QString what = args.isEmpty() ? "list" : args.takeFirst();
  if (what == "list" && args.isEmpty()) {
    QJsonDocument doc;
    if (int rc = ctl.call("GET", "/api/users", {}, &doc); rc || ctl.json()) return rc;
    QList<QStringList> rows{{"NAME", "ROLE", "CREATED"}};
    for (const QJsonValue& v : doc.array())
      rows << QStringList{v["name"].toString(), v["role"].toString(), cell(v["created"])};
    print_table(rows);
    return kOk;
  }
  if (what == "add") {
    const QString role = take_option(args, "--role");
    if (args.size() != 1 || role.isEmpty()) return usage("user add NAME --role viewer|operator|admin");
    const auto password = new_password(qPrintable(args[0]));
    if (!password) return kRefused;
    return ctl.acted(ctl.call("POST", "/api/users", {{"name", args[0]}, {"role", role}, {"password", *password}}, nullptr),
                     qPrintable(QString("%1 may sign in as %2").arg(args[0], role)));
  }
  if (what == "remove" && args.size() == 1)
    return ctl.acted(ctl.call("DELETE", "/api/users/" + path_name(args[0]), {}, nullptr),
                     qPrintable(QString("%1 removed; their sessions ended").arg(args[0])));
  if (what == "role" && args.size() == 2)
    return ctl.acted(ctl.call("PATCH", "/api/users/" + path_name(args[0]), {{"role", args[1]}}, nullptr),
                     qPrintable(QString("%1 is now %2; their sessions ended").arg(args[0], args[1])));
  if (what == "password" && args.size() == 1) {
    const auto password = new_password(qPrintable(args[0]));
    if (!password) return kRefused;
    return ctl.acted(ctl.call("PATCH", "/api/users/" + path_name(args[0]), {{"password", *password}}, nullptr),
                     qPrintable(QString("password of %1 set; their sessions ended").arg(args[0])));
  }
  return usage("user list | add NAME --role ROLE | remove NAME | role NAME ROLE | password NAME");
}

int tokens(Ctl& ctl, QStringList args) {
  const QString what = args.isEmpty() ? "list" : args.takeFirst();
  if (what == "list" && args.isEmpty()) {
    QJsonDocument doc;
    if (int rc = ctl.call("GET", "/api/tokens", {}, &doc); rc || ctl.json()) return rc;
    QList<QStringList> rows{{"NAME", "ROLE", "CREATED", "LAST USED"}};
    for (const QJsonValue& v : doc.array())
      rows << QStringList{v["name"].toString(), v["role"].toString(), cell(v["created"]),
                          v["last_used"].isNull() ? "never" : v["last_used"].toString()};
    print_table(rows);
    return kOk;
  }
  if (what == "create") {
    const QString role = take_option(args, "--role");
    if (args.size() != 1 || role.isEmpty()) return usage("token create NAME --role viewer|operator|admin");
    QJsonDocument doc;
    const bool json = ctl.json();
    if (int rc = ctl.call("POST", "/api/tokens", {{"name", args[0]}, {"role", role}}, &doc); rc || json) return rc;
    std::printf("%s\n", qPrintable(doc["token"].toString()));
    std::fprintf(stderr, "token \"%s\" (%s): shown only now; the server keeps only its hash\n", qPrintable(args[0]),
                 qPrintable(role));
    return kOk;
  }
  if (what == "revoke" && args.size() == 1)
    return ctl.acted(ctl.call("DELETE", "/api/tokens/" + path_name(args[0]), {}, nullptr),
                     qPrintable(QString("token %1 revoked; its connections ended").arg(args[0])));
  return usage("token list | create NAME --role ROLE | revoke NAME");
}

int audit(Ctl& ctl, QStringList args) {
  QUrlQuery query;
  for (const char* option : {"since", "until", "who", "operation", "limit"}) {
    const QString value = take_option(args, QString("--") + option);
    if (!value.isEmpty()) query.addQueryItem(option, QString::fromUtf8(QUrl::toPercentEncoding(value)));
  }
  const bool csv = take_flag(args, "--csv");
  if (!args.isEmpty()) return usage("audit [--since WHEN] [--until WHEN] [--who TEXT] [--operation TEXT] [--limit N] [--csv]");
  if (csv) {
    query.addQueryItem("format", "csv");
    QByteArray out;
    if (int rc = ctl.raw("/api/audit?" + query.toString(QUrl::FullyEncoded), out)) return rc;
    std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
    return kOk;
  }
  QJsonDocument doc;
  if (int rc = ctl.call("GET", "/api/audit?" + query.toString(QUrl::FullyEncoded), {}, &doc); rc || ctl.json()) return rc;
  QList<QStringList> rows{{"TIME", "WHO", "ADDRESS", "OPERATION", "RESULT", "ARGUMENTS"}};
  for (const QJsonValue& v : doc.array())
    rows << QStringList{QDateTime::fromString(v["time"].toString(), Qt::ISODateWithMs).toLocalTime().toString("yyyy-MM-dd HH:mm:ss"),
                        v["who"].toString(), v["address"].toString(), v["operation"].toString(), v["result"].toString(),
                        v["arguments"].toString().left(120)};
  print_table(rows);
  return kOk;
}

QString delivery(const QJsonValue& last) {
  if (!last.isObject()) return "never sent";
  return QString("%1 %2 (%3)").arg(last["ok"].toBool() ? "delivered" : "FAILED", last["time"].toString(), last["detail"].toString());
}

int notifications(Ctl& ctl, QStringList args) {
  const QString what = args.isEmpty() ? "list" : args.takeFirst();
  if (what == "list" && args.isEmpty()) {
    QJsonDocument doc;
    if (int rc = ctl.call("GET", "/api/notifications", {}, &doc); rc || ctl.json()) return rc;
    QList<QStringList> rows{{"TARGET", "WHERE", "LAST DELIVERY"}};
    const QJsonObject mail = doc["mail"].toObject();
    if (!mail.isEmpty()) {
      QStringList to;
      for (const QJsonValue& v : mail["to"].toArray()) to << v.toString();
      rows << QStringList{"mail", QString("%1 (%2) to %3").arg(mail["server"].toString(), mail["security"].toString(), to.join(", ")),
                          delivery(mail["last_delivery"])};
    }
    for (const QJsonValue& h : doc["webhooks"].toArray())
      rows << QStringList{h["name"].toString(), h["url"].toString(), delivery(h["last_delivery"])};
    print_table(rows);
    return kOk;
  }
  if (what == "webhook" && args.size() >= 2 && args[0] == "add") {
    const QString secret = take_option(args, "--secret");
    if (args.size() != 3) return usage("notify webhook add NAME URL [--secret SECRET]");
    QJsonObject body{{"url", args[2]}};
    if (!secret.isEmpty()) body.insert("secret", secret);
    QJsonDocument doc;
    if (int rc = ctl.call("PUT", "/api/notifications/webhooks/" + path_name(args[1]), body, &doc); rc || ctl.json()) return rc;
    std::printf("webhook %s set\n", qPrintable(args[1]));
    if (doc["secret"].isString())
      std::printf("its secret (shown once; the receiver checks X-Tavri-Signature with it): %s\n", qPrintable(doc["secret"].toString()));
    return kOk;
  }
  if (what == "webhook" && args.size() == 2 && args[0] == "remove")
    return ctl.acted(ctl.call("DELETE", "/api/notifications/webhooks/" + path_name(args[1]), {}, nullptr), "webhook removed");
  if (what == "mail" && args == QStringList{"remove"})
    return ctl.acted(ctl.call("DELETE", "/api/notifications/mail", {}, nullptr), "no more mail is sent");
  if (what == "mail") {
    QJsonObject body;
    for (const auto& [option, field] : {std::pair{"--server", "server"}, {"--security", "security"}, {"--user", "user"},
                                        {"--from", "from"}, {"--mail-ca-file", "ca_file"}}) {
      const QString value = take_option(args, option);
      if (!value.isEmpty()) body.insert(field, value);
    }
    const QString to = take_option(args, "--to");
    if (!args.isEmpty() || !body.contains("server") || !body.contains("from") || to.isEmpty())
      return usage("notify mail --server HOST:PORT [--security starttls|tls|none] [--user NAME] [--mail-ca-file PEM] --from ADDRESS "
                   "--to ADDRESS[,ADDRESS...]");
    body.insert("to", QJsonArray::fromStringList(to.split(',', Qt::SkipEmptyParts)));
    if (body.contains("user")) {
      const std::string password = read_secret("The mail account's password: ");
      body.insert("password", QString::fromStdString(password));
    }
    return ctl.acted(ctl.call("PUT", "/api/notifications/mail", body, nullptr), "mail set: send a test with \"notify test mail\"");
  }
  if (what == "test" && args.size() == 1) {
    QJsonDocument doc;
    if (int rc = ctl.call("POST", "/api/notifications/test", {{"target", args[0]}}, &doc); rc || ctl.json()) return rc;
    std::printf("delivered (%s)\n", qPrintable(doc["detail"].toString()));
    return kOk;
  }
  return usage("notify [list] | webhook add NAME URL [--secret S] | webhook remove NAME | mail --server ... | mail remove | test mail|NAME");
}

}  // namespace

std::optional<int> people_command(Ctl& ctl, const QString& command, QStringList args, bool) {
  if (command == "user") return users(ctl, std::move(args));
  if (command == "token") return tokens(ctl, std::move(args));
  if (command == "audit") return audit(ctl, std::move(args));
  if (command == "notify") return notifications(ctl, std::move(args));
  return std::nullopt;
}

}  // namespace tavri::avctl
