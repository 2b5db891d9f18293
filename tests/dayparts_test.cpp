// Weekly dayparts and dated items: what the players get on which day.
#include <gtest/gtest.h>

#include "core/keyed_archive.h"
#include "core/movielist.h"
#include "playlists/now_playing.h"
#include "playlists/published_file.h"
#include "schedules/dayparts.h"
#include "schedules/schedule_view.h"

using namespace tavri;

namespace {

Record task(const QString& name, const QString& time, int list, const QVariantMap& rules = {}) {
  Record t{{"name", name}, {"date", "2026-01-01"}, {"time", time}, {"daily", 1}, {"cut", 0}, {"active", 1}, {"list", list}};
  for (auto it = rules.begin(); it != rules.end(); ++it) t[it.key()] = it.value();
  return t;
}

QStringList when(const RecordArray& tasks) {
  QStringList out;
  for (const Record& t : tasks)
    out << QString("%1 %2 %3 %4").arg(t["date"].toString(), t["time"].toString(), t["name"].toString(), t["list"].toString());
  return out;
}

const QDate kFriday(2026, 12, 11);

}  // namespace

TEST(Dayparts, AWeekdayRuleCompiledOnAFridayPlaysMondayNotTheWeekend) {
  const RecordArray tasks{task("Breakfast", "07:00", 3, {{"days", "Mon Tue Wed Thu Fri"}, {"end_time", "10:30"}})};
  const RecordArray compiled = dayparts::compile(tasks, 2, kFriday, 4);  // Fri, Sat, Sun, Mon
  EXPECT_EQ(when(compiled), (QStringList{"2026-12-11 00:00 Fallback 2", "2026-12-11 07:00 Breakfast 3",
                                         "2026-12-14 07:00 Breakfast 3", "2026-12-11 10:30 Breakfast - end 2",
                                         "2026-12-14 10:30 Breakfast - end 2"}));
  // Only the task keys, dated.
  for (const Record& t : compiled) {
    EXPECT_EQ(QStringList(t.keys()), (QStringList{"active", "cut", "daily", "date", "list", "name", "time"}));
    EXPECT_EQ(t["daily"], 0);
  }
  // Without a fallback an end time plays on; dates bound the days; an
  // inactive rule gives nothing; an overnight part ends the next day; a
  // plain task stays as it is.
  const RecordArray mixed{task("Promo", "12:00", 4, {{"first_date", "2026-12-12"}, {"last_date", "2026-12-13"}}),
                          task("Off", "09:00", 4, {{"days", "Sat"}, {"active", 0}}),
                          task("Night", "22:00", 5, {{"days", "Sun"}, {"end_time", "02:00"}}), task("Plain", "08:00", 6)};
  EXPECT_EQ(when(dayparts::compile(mixed, -1, kFriday, 28)),
            (QStringList{"2026-01-01 08:00 Plain 6", "2026-12-12 12:00 Promo 4", "2026-12-13 12:00 Promo 4",
                         "2026-12-13 22:00 Night 5", "2026-12-20 22:00 Night 5", "2026-12-27 22:00 Night 5",
                         "2027-01-03 22:00 Night 5"}));
  EXPECT_EQ(when(dayparts::compile(mixed, 1, kFriday, 3)).filter("Night - end"),
            (QStringList{"2026-12-14 02:00 Night - end 1"}));
}

TEST(Dayparts, DaysAndRulesAreReadStrictly) {
  EXPECT_EQ(dayparts::read_days({"fri", "Monday", " TUE "}), "Mon Tue Fri");
  for (const QStringList& bad : {QStringList{}, QStringList{"mo"}, QStringList{"funday"}, QStringList{"mon", ""}})
    EXPECT_FALSE(dayparts::read_days(bad)) << bad.join(',').toStdString();
  for (const QVariantMap& bad : {QVariantMap{{"days", "Mon Mon"}}, QVariantMap{{"days", "Fri Mon"}},
                                 QVariantMap{{"first_date", "2026-02-30"}}, QVariantMap{{"end_time", "7:00"}},
                                 QVariantMap{{"end_time", "07:00"}},
                                 QVariantMap{{"first_date", "2026-12-12"}, {"last_date", "2026-12-11"}}})
    EXPECT_FALSE(dayparts::check_rules(task("T", "07:00", 1, bad), "tasks").ok()) << bad.keys().join(',').toStdString();
  EXPECT_TRUE(dayparts::check_rules(task("T", "07:00", 1, {{"days", "Sat Sun"}}), "tasks").ok());
}

// A schedule without rules and a playlist without dated items publish as
// they always did; dated ones leave out what does not play that day.
TEST(Dayparts, PublishedFilesHoldOnlyWhatPlaysThatDay) {
  Record playlist{{"id", 1}, {"name", "Lobby"}};
  auto item = [](const QString& file, const QVariantMap& dates = {}) {
    Record i{{"file_url", QUrl::fromLocalFile("/c/" + file)}, {"file_name", file}};
    for (auto it = dates.begin(); it != dates.end(); ++it) i[it.key()] = it.value();
    return i;
  };
  store_movielist(playlist, {item("a.mp4"), item("b.mp4")});
  const QByteArray plain = playlist_file_bytes(playlist, kFriday);
  EXPECT_EQ(playlist_file_bytes(playlist, kFriday.addDays(100)), plain);

  store_movielist(playlist, {item("a.mp4"), item("b.mp4", {{"last_date", "2026-12-13"}})});
  auto files = [&](const QDate& day) {
    QStringList names;
    for (const QVariant& v : published_items(playlist, day)) {
      names << v.toMap()["file_name"].toString();
      EXPECT_FALSE(v.toMap().contains("last_date"));
    }
    return names;
  };
  EXPECT_EQ(files(QDate(2026, 12, 13)), (QStringList{"a.mp4", "b.mp4"}));
  EXPECT_EQ(files(QDate(2026, 12, 14)), (QStringList{"a.mp4"}));
  EXPECT_EQ(playlist_file_bytes(playlist, QDate(2026, 12, 13)), plain) << "our keys never reach the file";
  EXPECT_EQ(why_not_playing(item("c", {{"first_date", "2026-12-20"}}), kFriday), "starts 2026-12-20");

  // The schedule: without rules exactly the stored tasks; with them the
  // compiled ones, each dated task carrying its own day's items.
  Record schedule{{"id", 1}, {"name", "Week"}, {"tasks", 1}, {"tasklist", QVariantList{task("All", "06:00", 1)}}};
  const Record as_stored = Schedule_View::published_schedule(schedule, {playlist}, kFriday);
  EXPECT_EQ(as_stored["tasklist"], schedule["tasklist"]);
  schedule["fallback"] = -1;  // set, then cleared
  EXPECT_EQ(Schedule_View::published_schedule(schedule, {playlist}, kFriday), as_stored);
  schedule["tasklist"] = QVariantList{task("All", "06:00", 1, {{"days", "Sun Mon"}})};
  schedule["fallback"] = -1;
  const Record ruled = Schedule_View::published_schedule(schedule, {playlist}, kFriday);
  EXPECT_FALSE(ruled.contains("fallback"));
  EXPECT_EQ(ruled["tasks"], 8);
  const QVariantList movielist = ruled["movielist"].toList();
  EXPECT_EQ(movielist[0].toMap()["date"], "2026-12-13");
  EXPECT_EQ(movielist[0].toMap()["playlist_files"].toList().size(), 2);  // Sunday: b.mp4 still plays
  EXPECT_EQ(movielist[1].toMap()["playlist_files"].toList().size(), 1);  // Monday: it ended
}

// What a screen shows, in words: by the track's name or place, and plainly
// when the list is not one this server sent.
TEST(NowPlaying, NamesTheItemAndItsPlace) {
  RecordList playlists;
  Record lobby{{"id", 4}, {"name", "Lobby"}};
  RecordArray items;
  for (const char* file : {"intro.mp4", "menu.png", "promo.png"})
    items.append(Record{{"file_url", QUrl::fromLocalFile(QString("/c/") + file)}, {"file_name", QString(file).section('.', 0, 0)}});
  items[2]["last_date"] = "2026-12-10";  // gone by Friday
  store_movielist(lobby, items);
  playlists.set_records({lobby});
  NowPlaying now(&playlists, kFriday);
  EXPECT_EQ(now.text(false, "4", "Lobby", "menu"), "Lobby › menu.png, 2 of 2");
  EXPECT_EQ(now.text(false, "4", "Lobby", "menu.png"), "Lobby › menu.png, 2 of 2");
  EXPECT_EQ(now.text(false, "4", "Lobby", "1"), "Lobby › intro.mp4, 1 of 2");
  EXPECT_EQ(now.text(false, "4", "Lobby", "http://s/live.m3u8"), "Lobby › http://s/live.m3u8");
  EXPECT_EQ(now.text(false, "4", "Lobby", "---"), "Lobby");
  EXPECT_EQ(now.text(true, "2", "Week", "menu"), "Week (schedule) › menu");
  EXPECT_EQ(now.text(false, "9", "", "x"), "list 9, which this server did not send");
  EXPECT_EQ(now.text(false, "---", "", "---"), "");
}
