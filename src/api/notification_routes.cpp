// /api/notifications: where outage alerts and the like are sent (webhooks
// and mail), and a test of each. Admins only (the listener's table).
#include <QJsonArray>

#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "app/controllers.h"

namespace tavri {

using namespace routes;

namespace {

std::string utf8(const QJsonValue& v) { return v.toString().toStdString(); }

}  // namespace

ApiRoutes::Answer ApiRoutes::notifications(const api::Request& request, const QStringList& parts) {
  notify::Notifier& notifier = c_.notifier;
  const QString& method = QString::fromStdString(request.method);
  if (parts.size() == 1) {
    if (method != "GET") return error(405, "GET");
    return api::Response{200, "application/json", notifier.describe()};
  }
  api::Response bad;
  if (parts.size() == 3 && parts[1] == "webhooks") {
    const std::string name = parts[2].toStdString();
    if (method == "DELETE") {
      if (const auto why = notifier.remove_webhook(name)) return error(404, QString::fromStdString(*why), "name");
      return json(200, QJsonObject{{"removed", parts[2]}});
    }
    if (method != "PUT") return error(405, "PUT or DELETE");
    const auto body = body_object(request, bad);
    if (!body) return bad;
    if (!body->value("url").isString()) return error(400, "\"url\" must be a string", "url");
    if (body->contains("secret") && !body->value("secret").isString()) return error(400, "\"secret\" must be a string", "secret");
    std::string secret;
    if (const auto why = notifier.set_webhook({name, utf8(body->value("url")), utf8(body->value("secret"))}, &secret))
      return error(400, QString::fromStdString(*why), "url");
    QJsonObject answer{{"name", parts[2]}, {"url", body->value("url")}};
    // Given back only when this server made it: the receiver needs it to check signatures.
    if (!body->contains("secret")) answer.insert("secret", QString::fromStdString(secret));
    return json(200, answer);
  }
  if (parts.size() == 2 && parts[1] == "mail") {
    if (method == "DELETE") {
      if (const auto why = notifier.remove_mail()) return error(404, QString::fromStdString(*why));
      return json(200, QJsonObject{{"removed", "mail"}});
    }
    if (method != "PUT") return error(405, "PUT or DELETE");
    const auto body = body_object(request, bad);
    if (!body) return bad;
    notify::Mail mail;
    for (const auto& [field, target] : {std::pair{"server", &mail.server}, {"security", &mail.security}, {"user", &mail.user},
                                        {"password", &mail.password}, {"from", &mail.from}, {"ca_file", &mail.ca_file}}) {
      if (body->contains(field) && !body->value(field).isString()) return error(400, QString("\"%1\" must be a string").arg(field), field);
      if (body->contains(field)) *target = utf8(body->value(field));
    }
    const QJsonValue to = body->value("to");
    if (!to.isArray()) return error(400, "\"to\" must be a list of addresses", "to");
    for (const QJsonValue& address : to.toArray()) {
      if (!address.isString()) return error(400, "\"to\" must be a list of addresses", "to");
      mail.to.push_back(utf8(address));
    }
    if (const auto why = notifier.set_mail(mail)) return error(400, QString::fromStdString(*why));
    return api::Response{200, "application/json", notifier.describe()};
  }
  if (parts.size() == 2 && parts[1] == "test") {
    if (method != "POST") return error(405, "POST");
    const auto body = body_object(request, bad);
    if (!body) return bad;
    if (!body->value("target").isString()) return error(400, "\"target\" is \"mail\" or a webhook's name", "target");
    const std::string target = utf8(body->value("target"));
    const QString who = QString::fromStdString(request.caller.name.empty() ? "the desk" : request.caller.name);
    const notify::Message message = c_.alert_router.test_message(who);
    // Answered with the outcome, once the one attempt is over.
    return Later([&notifier, target, message](api::Respond respond) {
      auto shared = std::make_shared<api::Respond>(std::move(respond));
      const bool known = notifier.send_to(target, message, [shared](const notify::Delivery& d) {
        (*shared)(d.ok ? json(200, QJsonObject{{"delivered", true}, {"detail", QString::fromStdString(d.detail)}})
                       : error(502, "not delivered: " + QString::fromStdString(d.detail)));
      });
      if (!known) (*shared)(error(404, QString("No target is named \"%1\".").arg(QString::fromStdString(target)), "target"));
    });
  }
  return error(404, "no such route");
}

}  // namespace tavri
