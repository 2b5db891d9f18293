#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/offline_alerts.h"
#include "history/proof_of_play.h"
#include "support/test_home.h"

using namespace tavri;
using namespace tavri::history;

namespace {

constexpr qint64 kT0 = 1796601600000;  // a Monday, 2026-12-07 00:00 UTC

class History : public test::TestHome {
 protected:
  QString path() const { return home() + "/history.sqlite"; }
};

Sighting seen(const QString& id, const QString& track, const QString& list = "4", int state = 2) {
  return {id, "Name of " + id, state, list, "Lobby", track};
}

}  // namespace

TEST_F(History, HostileTextsAreStoredAsTheyCameAndReadBack) {
  HistoryStore store;
  ASSERT_TRUE(store.open(path()));
  const QString quote = "x'); DROP TABLE events; --\"";
  const QString nul = QString("a") + QChar(0) + "b";
  const QString big(10240, QChar(0x00e9));
  const QString bom = QChar(0xFEFF) + QString("P1");  // a byte-order mark belongs to the id
  for (const QString& id : {quote, nul, big, bom}) store.record(Event{kT0, id, "first_seen", id});
  history::Run run;
  run.id = store.next_run_id();
  run.device_id = quote;
  run.device_name = big;
  run.playlist_name = nul;
  run.tracks = {quote, "t\"2\n"};
  run.offsets = {0, 10000};
  run.start_ms = kT0;
  run.end_ms = kT0 + 20000;
  store.record(run);
  store.flush();
  for (const QString& id : {quote, nul, big, bom}) {
    const auto events = store.events(id, 0, kT0 + 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].detail, id);
  }
  const auto runs = store.runs(0, kT0 + 60000);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].device_name, big);
  EXPECT_EQ(runs[0].playlist_name, nul);
  EXPECT_EQ(runs[0].tracks, (QStringList{quote, "t\"2\n"}));
  EXPECT_EQ(store.known_players().size(), 4);
  EXPECT_TRUE(store.known_players().contains(bom));
  EXPECT_TRUE(store.events("P1", 0, kT0 + 1).empty());
}

TEST_F(History, ADamagedOrForeignFileIsKeptAsideAndANewOneStarted) {
  QFile junk(path());
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write(QByteArray(8192, 'x'));
  junk.close();
  {
    HistoryStore store;
    QString kept;
    ASSERT_TRUE(store.open(path(), &kept));
    EXPECT_TRUE(kept.contains(".damaged-"));
    EXPECT_EQ(QFile(kept).size(), 8192);
    store.record(Event{kT0, "A", "first_seen", {}});
  }
  {
    // A valid SQLite file that is not ours (another program's): kept aside too.
    QFile::remove(path());
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "foreign");
    db.setDatabaseName(path());
    ASSERT_TRUE(db.open());
    QSqlQuery(db).exec("CREATE TABLE songs(name TEXT)");
    db.close();
  }
  QSqlDatabase::removeDatabase("foreign");
  HistoryStore store;
  QString kept;
  ASSERT_TRUE(store.open(path(), &kept));
  EXPECT_FALSE(kept.isEmpty());
  store.record(Event{kT0, "B", "first_seen", {}});
  store.flush();
  EXPECT_EQ(store.known_players(), QStringList{"B"});

  // Nothing can be kept aside or made: it says why, for the operator's alert.
  HistoryStore blocked;
  const QString folder = home() + "/a-folder.sqlite";
  ASSERT_TRUE(QDir().mkpath(folder));
  EXPECT_FALSE(blocked.open(folder));
  EXPECT_EQ(blocked.error(), "it is a folder, not a file");
}

// A history from a backup is copied row by row into a file of our own:
// a trigger that would erase every new event, a view under a table's name
// or a flood of rows does not come along.
TEST_F(History, ABackupsHistoryIsMadeAnewWithNothingButItsRows) {
  const QString copy = home() + "/backup.sqlite", rebuilt = home() + "/rebuilt.sqlite";
  {
    HistoryStore store;
    ASSERT_TRUE(store.open(path()));
    for (int i = 0; i < 5; ++i) store.record(Event{kT0 + i, "P1", "online", QString::number(i)});
    history::Run run;
    run.id = store.next_run_id();
    run.device_id = "P1";
    run.tracks = {"a.mp4"};
    run.offsets = {0};
    run.start_ms = kT0;
    run.end_ms = kT0 + 1000;
    store.record(run);
    store.flush();
    ASSERT_TRUE(store.copy_to(copy).isEmpty());
  }
  auto sql = [&](const QString& file, const QString& statement) {
    bool ok = false;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "hostile");
      db.setDatabaseName(file);
      ok = db.open() && QSqlQuery(db).exec(statement);
      db.close();
    }
    QSqlDatabase::removeDatabase("hostile");
    return ok;
  };
  ASSERT_TRUE(sql(copy, "CREATE TRIGGER erase AFTER INSERT ON events BEGIN DELETE FROM events; END"));
  ASSERT_TRUE(rebuild_history(copy, rebuilt).isEmpty());
  EXPECT_TRUE(sql(rebuilt, "SELECT 1"));
  {
    HistoryStore store;
    ASSERT_TRUE(store.open(rebuilt));
    store.record(Event{kT0 + 10, "P1", "offline", {}});
    store.flush();
    EXPECT_EQ(store.events("P1", 0, kT0 + 100).size(), 6u) << "no trigger came along";
    EXPECT_EQ(store.runs(0, kT0 + 2000).size(), 1u);
  }
  EXPECT_TRUE(rebuild_history(copy, rebuilt, 3).startsWith("too large"));
  ASSERT_TRUE(sql(copy, "DROP TABLE events"));
  ASSERT_TRUE(sql(copy, "CREATE VIEW events AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) "
                        "SELECT x AS id, x AS time, 'P' AS device_id, 'k' AS kind, '' AS detail FROM n"));
  EXPECT_EQ(rebuild_history(copy, rebuilt), "its events or runs are not plain tables");
  EXPECT_FALSE(QFile::exists(rebuilt));
  EXPECT_EQ(rebuild_history(home() + "/nothing.sqlite", rebuilt), "not a history of this server");
}

// The audit: filtered by who and operation (their text taken as itself,
// not as a pattern), newest first, safe as CSV, pruned with the events,
// and carried into a restored history.
TEST_F(History, TheAuditIsFilteredPrunedAndOutlivesARestore) {
  const QString restored = home() + "/restored.sqlite";
  {
    HistoryStore store;
    ASSERT_TRUE(store.open(path()));
    const qint64 now = history::now_ms();
    store.record(AuditEntry{now - 2000, "alice (admin)", "10.0.0.5", "DELETE /api/players/P1", "", "done"});
    store.record(AuditEntry{now - 1000, "token 100%_sure (operator)", "10.0.0.6", "POST /api/send", "{\"playlist\":3}",
                            "=SUM(A1)"});
    store.record(AuditEntry{now, "desk", "desk", "SEND", "Lobby to 2 players", "done"});
    store.record(AuditEntry{now - 40ll * 86400000, "old", "x", "POST /api/send", "", "done"});
    store.flush();
    const auto all = store.audit({now - 60000, 0, {}, {}, 100});
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].who, "desk");  // newest first
    EXPECT_EQ(store.audit({0, 0, "ALICE", {}, 100}).size(), 1u);
    EXPECT_EQ(store.audit({0, 0, "100%_", "send", 100}).size(), 1u);
    EXPECT_EQ(store.audit({0, 0, "%", {}, 100}).size(), 1u) << "a % is itself, not any text";
    const QString csv = QString::fromUtf8(audit_log::csv(all));
    EXPECT_TRUE(csv.startsWith("time,who,address,operation,arguments,result\r\n"));
    EXPECT_TRUE(csv.contains(",\"{\"\"playlist\"\":3}\",'=SUM(A1)\r\n")) << csv.toStdString();
    store.set_retention_for_tests(30ll * 86400000, HistoryStore::kSizeCapBytes);
    store.prune_now();
    store.flush();
    EXPECT_TRUE(store.audit({0, 0, "old", {}, 100}).empty());
  }
  // A backup's history made anew has no audit of its own; the one in use is carried into it.
  ASSERT_TRUE(rebuild_history(path(), restored).isEmpty());
  ASSERT_TRUE(audit_log::carry(path(), restored).isEmpty());
  HistoryStore store;
  ASSERT_TRUE(store.open(restored));
  EXPECT_EQ(store.audit({0, 0, {}, {}, 100}).size(), 3u);
}

// A flood of invented ids adds a bounded number of rows a second; the
// players the history knows are never held back by it.
TEST_F(History, AFloodOfNewIdsAddsABoundedNumberOfRows) {
  HistoryStore store;
  ASSERT_TRUE(store.open(path()));
  HistoryRecorder recorder(store);
  recorder.feedback(seen("REAL", "a.mp4"), kT0);
  for (int second = 0; second < 3; ++second)
    for (int i = 0; i < 20000; ++i)
      recorder.feedback(seen(QString("FAKE-%1-%2").arg(second).arg(i), "a.mp4"), kT0 + second * 1000 + i / 100);
  recorder.feedback(seen("REAL", "b.mp4"), kT0 + 3000);
  store.flush();
  const double most = HistoryRecorder::kNewPlayersBurst + 3 * HistoryRecorder::kNewPlayersPerSecond + 1;
  EXPECT_LE(store.known_players().size(), most);
  const auto runs = store.runs(0, kT0 + 4000, {"REAL"});
  ASSERT_FALSE(runs.empty());
  EXPECT_TRUE(runs.back().tracks.contains("b.mp4")) << "the known player's tracks are all there";
}

TEST_F(History, ASteadyLoopIsOneRunAndExpandsToEachPlayAnyJumpStartsANewRun) {
  HistoryStore store;
  ASSERT_TRUE(store.open(path()));
  HistoryRecorder recorder(store);
  const QStringList tracks{"a.mp4", "b.mp4", "c.png"};
  qint64 t = kT0;
  // An hour of a three-track loop, 10 s each, with a feedback every second
  // arriving up to 1.4 s late.
  for (int second = 0; second < 3600; ++second, t += 1000) {
    const int played = (second / 10) % 3;
    recorder.feedback(seen("P1", tracks[played]), t + (second % 7) * 200);
    recorder.tick(t);
  }
  recorder.feedback(seen("P1", "b.mp4"), t);  // c.png skipped: out of turn
  store.flush();
  auto runs = store.runs(0, t + 1);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].period_ms / 1000, 30);
  EXPECT_EQ(runs[0].tracks, tracks);
  const auto plays = expand_plays({runs[0]}, 0, t);
  EXPECT_NEAR(double(plays.size()), 360.0, 1.0);
  for (const Play& p : plays) EXPECT_NEAR(double(p.end_ms - p.start_ms), 10000.0, 1500.0) << p.track.toStdString();
  EXPECT_EQ(plays.front().track, "a.mp4");
  EXPECT_EQ(plays.front().playlist_name, "Lobby");

  // Silence: offline by the 8 s rule, the run closed at the last feedback.
  recorder.tick(t + 8000);
  EXPECT_TRUE(recorder.is_online("P1"));
  recorder.tick(t + 8001);
  EXPECT_FALSE(recorder.is_online("P1"));
  store.flush();
  const auto events = store.events("P1", 0, t + 10000);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0].kind, "offline");  // newest first
  EXPECT_EQ(events.back().kind, "first_seen");
  // Online the whole hour, then 3 s gone of a window ending at t + 11 s.
  const auto uptimes = store.uptimes(kT0, t + 11000, {});
  EXPECT_NEAR(uptimes.value("P1"), 3608.0 / 3611.0, 0.001);
}

TEST_F(History, OldHistoryIsPrunedByAgeAndBySize) {
  HistoryStore store;
  ASSERT_TRUE(store.open(path()));
  const qint64 now = QDateTime::currentMSecsSinceEpoch(), day = 24ll * 3600 * 1000;
  store.record(Event{now - 100 * day, "OLD", "first_seen", {}});
  store.record(Event{now - day, "NEW", "first_seen", {}});
  store.set_retention_for_tests(90 * day, 1ll << 40);
  store.prune_now();
  EXPECT_EQ(store.known_players(), QStringList{"NEW"}) << "past the 90 days";

  // Over the size cap the oldest go first.
  for (int i = 0; i < 20000; ++i) store.record(Event{now - day + i, "BULK", "command", QString(200, 'x')});
  store.flush();
  const qint64 full = QFileInfo(path()).size() + QFileInfo(path() + "-wal").size();
  store.set_retention_for_tests(90 * day, full / 4);
  store.prune_now();
  EXPECT_LE(QFileInfo(path()).size(), full / 4);
  const auto newest = store.events("BULK", 0, now, 1);
  ASSERT_EQ(newest.size(), 1u);
  EXPECT_EQ(newest[0].time_ms, now - day + 19999) << "the newest stay";
}

TEST(OfflineAlerts, OneLostDatagramAlarmsNobodyAndAFloorIsOneMessage) {
  QStringList said;
  OfflineAlerts alerts([&](const OfflineAlerts::Alert& alert) { said << alert.title; }, 60000);
  alerts.online_changed("A", "lobby", false, kT0);
  alerts.check(kT0 + 30000);
  alerts.online_changed("A", "lobby", true, kT0 + 31000);
  alerts.check(kT0 + 90000);
  EXPECT_TRUE(said.isEmpty());

  for (const char* id : {"1", "2", "3", "4", "5"}) alerts.online_changed(id, QString("floor %1").arg(id), false, kT0);
  alerts.check(kT0 + 59000);
  EXPECT_TRUE(said.isEmpty());
  alerts.check(kT0 + 61000);
  EXPECT_EQ(said, QStringList{"5 players are offline"});
  EXPECT_EQ(alerts.reported_offline(), 5);
  // Open until the last of its players is back, with those still dark.
  ASSERT_EQ(alerts.open().size(), 1);
  alerts.online_changed("1", "floor 1", true, kT0 + 65000);
  EXPECT_EQ(alerts.open().first().ids, (QStringList{"2", "3", "4", "5"}));
  for (const char* id : {"1", "2", "3", "4", "5"}) alerts.online_changed(id, QString("floor %1").arg(id), true, kT0 + 70000);
  EXPECT_TRUE(alerts.open().isEmpty());
  alerts.check(kT0 + 71000);
  EXPECT_EQ(said.last(), "5 players are back");
  EXPECT_EQ(said.size(), 2);

  // A floor whose screens stop over twenty seconds is one alert, given once
  // the last of them is past the grace time; a later outage is its own.
  said.clear();
  const qint64 t = kT0 + 200000;
  for (int i = 0; i < 30; ++i) alerts.online_changed(QString::number(i), QString("bar %1").arg(i, 2, 10, QChar('0')), false, t + (i % 3) * 10000);
  alerts.online_changed("late", "kitchen", false, t + 45000);
  for (qint64 at = t; at <= t + 120000; at += 1000) alerts.check(at);
  EXPECT_EQ(said, (QStringList{"30 players are offline", "A player is offline"}));
}

TEST(ProofOfPlay, CsvHasAHeaderLocalTimesWithTheirOffsetAndSafeFields) {
  std::vector<Play> plays{{"P1", "Lobby, left", "4", "=cmd|' /C calc'!A0", "say \"hi\"", kT0, kT0 + 10000},
                          {"P1", "Lobby, left", "4", "x", "say \"hi\"", kT0 + 10000, kT0 + 25000}};
  const QString csv = QString::fromUtf8(plays_csv(plays));
  const QStringList lines = csv.split("\r\n", Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], "player id,player name,playlist id,playlist name,track,start,end,seconds");
  EXPECT_TRUE(lines[1].startsWith("P1,\"Lobby, left\",4,'=cmd|' /C calc'!A0,\"say \"\"hi\"\"\","));
  EXPECT_TRUE(lines[1].endsWith(",10.0"));
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(kT0);
  EXPECT_TRUE(lines[1].contains(start.toOffsetFromUtc(start.offsetFromUtc()).toString(Qt::ISODate)));
  const QString totals = QString::fromUtf8(totals_csv(plays));
  EXPECT_TRUE(totals.startsWith("player id,player name,track,plays,seconds\r\n"));
  EXPECT_TRUE(totals.contains(",2,25.0\r\n"));
  for (const char* lead : {"\t=1+1", "\r=1+1", "+1", "-1", "@SUM(A1)"}) {
    const QString csv_line = QString::fromUtf8(plays_csv({{"P", "n", "1", "l", lead, kT0, kT0 + 1000}})).split("\r\n")[1];
    const QString cell = csv_line.section(',', 4, 4).remove('"');
    EXPECT_TRUE(cell.startsWith('\'')) << lead;
  }
}

TEST_F(History, AKillLosesAtMostTheLastSecondAndNeverCorruptsTheFile) {
  const QString file = path();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HistoryStore store;
    if (!store.open(file)) ::_exit(3);
    for (qint64 i = 0;; ++i) {
      store.record(Event{QDateTime::currentMSecsSinceEpoch(), "K", "command", QString::number(i)});
      ::usleep(1000);
    }
  }
  ::usleep(2500000);
  const qint64 killed_at = QDateTime::currentMSecsSinceEpoch();
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  HistoryStore store;
  QString kept;
  ASSERT_TRUE(store.open(file, &kept));
  EXPECT_TRUE(kept.isEmpty()) << "the file was whole";
  const auto events = store.events("K", 0, killed_at + 1000, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_GE(events[0].time_ms, killed_at - 1500) << "more than the last second was lost";
}
