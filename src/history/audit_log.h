#pragma once
#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <deque>
#include <vector>

// Who changed what, kept in the history file beside the players' events:
// every change through the API, the console, tavri-avctl or the desk, with
// its result, and every sign-in.
namespace tavri::history {

struct AuditEntry {
  qint64 time_ms = 0;
  QString who;        // "alice (admin)", "token booking (operator)", "service token", "desk"
  QString address;    // the client's, or "desk"
  QString operation;  // "POST /api/send", "SEND"
  QString arguments;  // the request's body and query, passwords left out
  QString result;     // "done", or "refused: why"
};

struct AuditFilter {
  qint64 from_ms = 0, to_ms = 0;
  QString who, operation;  // parts of the text, any case; empty: any
  int limit = 1000;
};

namespace audit_log {

inline constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS audit(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, who TEXT NOT NULL, "
    "address TEXT, operation TEXT NOT NULL, arguments TEXT, result TEXT)";

void write(QSqlDatabase& db, const std::deque<AuditEntry>& entries);
// Newest first.
std::vector<AuditEntry> read(QSqlDatabase& db, const AuditFilter& filter);
void prune(QSqlDatabase& db, qint64 oldest_ms);
QByteArray csv(const std::vector<AuditEntry>& entries);

// A restore replaces the history file: the record of what was done to this
// server stays, carried from the file in use into the restored one. The
// error, or empty.
QString carry(const QString& from, const QString& into);

}  // namespace audit_log
}  // namespace tavri::history
