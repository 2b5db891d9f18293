#pragma once
#include "api/api_server.h"
#include "history/audit_log.h"

namespace tavri {

// What the audit keeps of an answered request: who by the credential it
// showed, from where, the route, its body without secrets, and the result.
history::AuditEntry audit_entry(const api::Request& request, const api::Response& response, qint64 now_ms);

// `body` with every secret's value ("password", "current", "secret",
// "token") replaced by "***"; a body that is not JSON is kept as it is.
QString without_secrets(const QByteArray& body);

}  // namespace tavri
