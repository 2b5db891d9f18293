#include "history/audit_log.h"

#include <QDateTime>
#include <QFileInfo>
#include <QUrl>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>

#include "core/console.h"
#include "history/proof_of_play.h"

namespace tavri::history::audit_log {

namespace {

// Texts go in as UTF-8 bytes cast to text, as the events' do; an empty
// text as itself, not as NULL.
QVariant utf8(const QString& text) { return QVariant(text.isEmpty() ? QByteArray("") : text.toUtf8()); }

}  // namespace

void write(QSqlDatabase& db, const std::deque<AuditEntry>& entries) {
  QSqlQuery q(db);
  q.prepare("INSERT INTO audit(time, who, address, operation, arguments, result) VALUES(?, CAST(? AS TEXT), "
            "CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT), CAST(? AS TEXT))");
  for (const AuditEntry& a : entries) {
    for (const QVariant& v : {QVariant(a.time_ms), utf8(a.who), utf8(a.address), utf8(a.operation), utf8(a.arguments),
                              utf8(a.result)})
      q.addBindValue(v);
    if (!q.exec()) console_log("HISTORY: " + q.lastError().text());
  }
}

std::vector<AuditEntry> read(QSqlDatabase& db, const AuditFilter& filter) {
  std::vector<AuditEntry> out;
  QSqlQuery q(db);
  // instr() on lower(): a filter's % or _ is taken as itself.
  q.prepare("SELECT time, who, address, operation, arguments, result FROM audit WHERE time >= ? AND time <= ? "
            "AND instr(lower(who), lower(CAST(? AS TEXT))) > 0 AND instr(lower(operation), lower(CAST(? AS TEXT))) > 0 "
            "ORDER BY time DESC, id DESC LIMIT ?");
  for (const QVariant& v : {QVariant(filter.from_ms), QVariant(filter.to_ms > 0 ? filter.to_ms : QDateTime::currentMSecsSinceEpoch() + 60000),
                            utf8(filter.who), utf8(filter.operation), QVariant(filter.limit)})
    q.addBindValue(v);
  if (q.exec())
    while (q.next())
      out.push_back({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                     q.value(4).toString(), q.value(5).toString()});
  return out;
}

void prune(QSqlDatabase& db, qint64 oldest_ms) {
  QSqlQuery q(db);
  q.prepare("DELETE FROM audit WHERE time < ?");
  q.addBindValue(oldest_ms);
  q.exec();
}

QByteArray csv(const std::vector<AuditEntry>& entries) {
  std::vector<QStringList> rows;
  for (const AuditEntry& a : entries) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(a.time_ms);
    rows.push_back({local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate), a.who, a.address, a.operation,
                    a.arguments, a.result});
  }
  return csv_lines({"time", "who", "address", "operation", "arguments", "result"}, rows);
}

QString carry(const QString& from, const QString& into) {
  if (!QFileInfo::exists(from)) return {};
  static std::atomic<int> serial{0};
  const QString name = QString("tavri-audit-carry-%1").arg(++serial);
  QString error;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
    db.setConnectOptions("QSQLITE_OPEN_URI");
    db.setDatabaseName(into);
    QSqlQuery q(db);
    if (!db.open() || !q.exec(kSchema)) {
      error = db.lastError().text();
    } else {
      // The file in use is only read.
      q.prepare("ATTACH DATABASE ? AS live");
      q.addBindValue(QUrl::fromLocalFile(from).toString() + "?mode=ro");
      const bool attached = q.exec();
      if (attached && q.exec("SELECT count(*) FROM live.sqlite_master WHERE type = 'table' AND name = 'audit'") &&
          q.next() && q.value(0).toInt() == 1 &&
          !q.exec("INSERT INTO audit(time, who, address, operation, arguments, result) SELECT time, CAST(who AS TEXT), "
                  "CAST(address AS TEXT), CAST(operation AS TEXT), CAST(arguments AS TEXT), CAST(result AS TEXT) "
                  "FROM live.audit ORDER BY id"))
        error = q.lastError().text();
      q.finish();
      if (attached) q.exec("DETACH DATABASE live");
    }
    q.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return error;
}

}  // namespace tavri::history::audit_log
