#include "api/audit_entry.h"

#include "api/accounts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tavri {

namespace {

constexpr int kMaxArguments = 4000;

QString who_of(const api::Request& request) {
  const api::Caller& c = request.caller;
  const QString name = QString::fromStdString(c.name);
  const QString role = QString::fromUtf8(api::role_name(c.role).data(), qsizetype(api::role_name(c.role).size()));
  switch (c.kind) {
    case api::Caller::Kind::session: return QString("%1 (%2)").arg(name, role);
    case api::Caller::Kind::token: return QString("token %1 (%2)").arg(name, role);
    case api::Caller::Kind::service_token: return "service token";
    case api::Caller::Kind::hub: return QString("hub (%1)").arg(role);
    case api::Caller::Kind::nobody: break;
  }
  // A sign-in names its account in the body; a name no account can have is not kept as given.
  const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
  if (!body.contains("name")) return "admin";
  const std::string given = body.value("name").toString().toStdString();
  return body.value("name").isString() && !api::Accounts::name_problem(given) ? QString::fromStdString(given)
                                                                               : "(not a name)";
}

QJsonValue redacted(const QJsonValue& value) {
  if (value.isObject()) {
    QJsonObject o = value.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
      if (it.key() == "password" || it.key() == "current" || it.key() == "secret" || it.key() == "token")
        it.value() = "***";
      else
        it.value() = redacted(it.value());
    }
    return o;
  }
  if (value.isArray()) {
    QJsonArray a;
    for (const QJsonValue& v : value.toArray()) a.append(redacted(v));
    return a;
  }
  return value;
}

}  // namespace

QString without_secrets(const QByteArray& body) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError) return QString::fromUtf8(body);
  const QJsonValue value = redacted(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array()));
  return QString::fromUtf8(value.isObject() ? QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)
                                            : QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
}

history::AuditEntry audit_entry(const api::Request& request, const api::Response& response, qint64 now_ms) {
  history::AuditEntry e;
  e.time_ms = now_ms;
  e.who = who_of(request);
  e.address = QString::fromStdString(request.client);
  const bool sign_in = request.path == "/api/login";
  e.operation = sign_in ? "sign in" : QString::fromStdString(request.method + " " + request.path);
  QString arguments = sign_in ? QString() : without_secrets(QByteArray::fromStdString(request.body));
  if (!request.query.empty()) arguments = "?" + QString::fromStdString(request.query) + (arguments.isEmpty() ? "" : " ") + arguments;
  if (arguments.size() > kMaxArguments) arguments = arguments.left(kMaxArguments) + "…";
  e.arguments = arguments;
  if (response.status < 300) {
    e.result = "done";
  } else {
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
    const QString why = body.value("error").toString();
    e.result = QString("refused (%1)%2").arg(response.status).arg(why.isEmpty() ? QString() : ": " + why.left(500));
  }
  return e;
}

}  // namespace tavri
