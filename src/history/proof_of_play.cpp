#include "proof_of_play.h"

#include <QDateTime>
#include <QMap>
#include <QStringList>

namespace tavri::history {
namespace {

QString iso(qint64 ms) {
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
  return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

// Texts come from the players: quoted when they hold a comma, quote or line
// break, and never read by a spreadsheet as a formula.
QString field(QString text) {
  text.remove(QChar(0));
  // TAB and CR start formulas too in some spreadsheets.
  if (!text.isEmpty() && QString("=+-@\t\r").contains(text.front())) text.prepend('\'');
  if (text.contains(',') || text.contains('"') || text.contains('\n') || text.contains('\r'))
    text = '"' + text.replace('"', "\"\"") + '"';
  return text;
}

}  // namespace

QByteArray csv_lines(const QStringList& header, const std::vector<QStringList>& rows) {
  QByteArray out = header.join(',').toUtf8() + "\r\n";
  for (const QStringList& row : rows) {
    QStringList cells;
    for (const QString& c : row) cells << field(c);
    out += cells.join(',').toUtf8() + "\r\n";
  }
  return out;
}

namespace {

QString seconds(qint64 ms) { return QString::number(ms / 1000.0, 'f', 1); }

}  // namespace

std::vector<Play> expand_plays(const std::vector<Run>& runs, qint64 from, qint64 to) {
  std::vector<Play> plays;
  for (const Run& r : runs) {
    const int n = int(r.tracks.size());
    if (n == 0) continue;
    auto add = [&](int i, qint64 start, qint64 end) {
      end = std::min(end, r.end_ms);
      if (end <= start || end < from || start > to) return;
      plays.push_back({r.device_id, r.device_name, r.playlist_id, r.playlist_name, r.tracks[i], start, end});
    };
    if (r.period_ms <= 0) {
      for (int i = 0; i < n; ++i) add(i, r.start_ms + r.offsets[i], i + 1 < n ? r.start_ms + r.offsets[i + 1] : r.end_ms);
      continue;
    }
    // Cycles before the range are skipped, not walked.
    qint64 cycle = r.start_ms;
    if (from > cycle + r.period_ms) cycle += (from - cycle) / r.period_ms * r.period_ms - r.period_ms;
    cycle = std::max(cycle, r.start_ms);
    for (; cycle < r.end_ms && cycle <= to; cycle += r.period_ms)
      for (int i = 0; i < n; ++i)
        add(i, cycle + r.offsets[i], i + 1 < n ? cycle + r.offsets[i + 1] : cycle + r.period_ms);
  }
  return plays;
}

QByteArray plays_csv(const std::vector<Play>& plays) {
  std::vector<QStringList> rows;
  for (const Play& p : plays)
    rows.push_back({p.device_id, p.device_name, p.playlist_id, p.playlist_name, p.track, iso(p.start_ms), iso(p.end_ms),
                    seconds(p.end_ms - p.start_ms)});
  return csv_lines({"player id", "player name", "playlist id", "playlist name", "track", "start", "end", "seconds"}, rows);
}

QByteArray totals_csv(const std::vector<Play>& plays) {
  struct Total {
    QString name;
    int plays = 0;
    qint64 ms = 0;
  };
  QMap<QPair<QString, QString>, Total> totals;
  for (const Play& p : plays) {
    Total& t = totals[{p.device_id, p.track}];
    t.name = p.device_name;
    ++t.plays;
    t.ms += p.end_ms - p.start_ms;
  }
  std::vector<QStringList> rows;
  for (auto it = totals.begin(); it != totals.end(); ++it)
    rows.push_back({it.key().first, it->name, it.key().second, QString::number(it->plays), seconds(it->ms)});
  return csv_lines({"player id", "player name", "track", "plays", "seconds"}, rows);
}

}  // namespace tavri::history
