#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/app_delegate.h"
#include "core/bus.h"
#include "core/catalogue.h"
#include "core/notifications.h"
#include "support/scripted_dialogs.h"
#include "core/catalogue_file.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "support/test_home.h"

using namespace tavri;

namespace {
class SavedState : public test::TestHome {
 protected:
  void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
};
}  // namespace

TEST_F(SavedState, FoldersFollowTheUserLocations) {
  EXPECT_EQ(documents_folder(), home() + "/Documents");
  EXPECT_EQ(application_folder(), home() + "/.local/share/tavri_av_server");
  EXPECT_TRUE(QDir(app_support_folder()).exists());
}

TEST_F(SavedState, FailedWriteKeepsThePreviousFileAndLogsTheError) {
  const QString dir = home() + "/ro";
  QDir().mkpath(dir);
  write(dir + "/a.sav", "old");
  QFile::setPermissions(home(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                    QFile::ExeOther);
  QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
  // A read-only folder; root ignores permissions, so write as nobody then.
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
        const bool saved = save_file_logged(dir + "/a.sav", "new", "SAVE X");
        const QStringList lines = log();
        ::_exit(!saved && lines.value(0) == "SAVE ERROR !!!!!" && !lines.contains("SAVE X") ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(read(dir + "/a.sav"), "old");
}

TEST_F(SavedState, WriteIntoAMissingFolderFailsAndCreatesNothing) {
  const QString path = home() + "/missing/a.sav";
  EXPECT_FALSE(save_file_logged(path, "x", "SAVE X"));
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(log().first(), "SAVE ERROR !!!!!");
}

TEST_F(SavedState, CatalogueLoadRules) {
  Catalogue cat(kPlaylistFile, "SAVE PLAYLIST !!!!!", "LOAD PLAYLIST !!!!!");
  const QString path = documents_folder() + "/" + kPlaylistFile;

  cat.load();  // missing file
  EXPECT_TRUE(cat.list().empty());
  write(path, "");
  cat.load();  // empty file
  EXPECT_TRUE(cat.list().empty());
  EXPECT_TRUE(log().isEmpty()) << "missing and empty files are not reported";

  cat.list().set_records({{{"id", 2}, {"name", "b"}}, {{"id", 1}, {"name", "B"}}, {{"id", 3}, {"name", "a"}}});
  cat.list().select_list_indices({0});
  ASSERT_TRUE(cat.save());
  QStringList names;
  for (const auto& r : cat.list().records()) names << r["name"].toString();
  EXPECT_EQ(names, (QStringList{"B", "a", "b"})) << "save sorts by character codes";
  EXPECT_EQ(cat.list().selected_records().first()["id"].toInt(), 2) << "selection follows its record";

  cat.list().clear();
  wait_for_writes();
  cat.load();
  ASSERT_EQ(cat.list().size(), 3);
  EXPECT_EQ(cat.list().selected_records().first()["name"].toString(), "B");
  EXPECT_TRUE(log().contains("LOAD PLAYLIST !!!!!"));
}

TEST_F(SavedState, DamagedCatalogueIsKeptAsideNotDestroyed) {
  const QString path = documents_folder() + "/" + kScheduleFile;
  write(path, "bplist00 garbage that is not an archive");
  Catalogue cat(kScheduleFile, "SAVE SCHEDULE LIST !!!!!", "LOAD SCHEDULE LIST !!!!!");
  cat.load();
  EXPECT_TRUE(cat.list().empty());
  const QString first = cat.take_damaged_copy();
  EXPECT_TRUE(first.startsWith(path + ".damaged-"));
  EXPECT_EQ(read(first), "bplist00 garbage that is not an archive");
  EXPECT_FALSE(log().filter(path).isEmpty()) << "the damaged file is named in the log";
  EXPECT_TRUE(cat.take_damaged_copy().isEmpty()) << "reported once";
  // An archive without the record list is damaged too, and kept beside the first copy.
  write(path, encode_archive({{"OTHER", 1}}));
  cat.load();
  EXPECT_TRUE(cat.list().empty());
  const QString second = cat.take_damaged_copy();
  EXPECT_NE(second, first);
  EXPECT_EQ(read(second), encode_archive({{"OTHER", 1}}));
  EXPECT_EQ(read(first), "bplist00 garbage that is not an archive");

  // Nothing is written over the file until the operator edits.
  EXPECT_FALSE(cat.save());
  EXPECT_EQ(read(path), encode_archive({{"OTHER", 1}}));
  cat.list().append({{"id", 1}, {"name", "new"}});
  EXPECT_TRUE(cat.save());
  EXPECT_EQ(cat.list().size(), 1);
  cat.load();
  EXPECT_EQ(cat.list().size(), 1);
}

TEST_F(SavedState, EntriesOfTheWrongTypeAreDroppedButKept) {
  const QString path = documents_folder() + "/" + kPlaylistFile;
  const QByteArray bytes = encode_archive({{"SPEICHER", QVariantList{QVariantMap{{"id", 1}, {"name", "A"}}, 42, "text"}}});
  write(path, bytes);
  Catalogue cat(kPlaylistFile, "SAVE PLAYLIST !!!!!", "LOAD PLAYLIST !!!!!");
  cat.load();
  EXPECT_EQ(cat.list().size(), 1);
  const QString copy = cat.take_damaged_copy();
  ASSERT_FALSE(copy.isEmpty());
  EXPECT_EQ(read(copy), bytes);
}

TEST_F(SavedState, ANewerWriteOfAFileReplacesTheQueuedOlderOne) {
  BackgroundWriter& writer = BackgroundWriter::instance();
  const QString path = documents_folder() + "/supersede.bin";
  std::atomic<int> encoded{0};
  auto version = [&](const char* bytes) {
    return [&encoded, bytes] {
      ++encoded;
      return QByteArray(bytes);
    };
  };
  writer.set_delay_for_tests(200);
  writer.submit_bytes(path, version("one"), {});  // running while the others arrive
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  writer.submit_bytes(path, version("two"), {});
  writer.submit_bytes(path, version("three"), {});
  ASSERT_TRUE(writer.wait_idle(10000));
  writer.set_delay_for_tests(0);
  EXPECT_EQ(read(path), "three") << "the last state handed over ends up on disk";
  EXPECT_EQ(encoded, 2) << "the queued older state was never encoded";
}

TEST_F(SavedState, QuitWaitsForWritesStillPending) {
  Bus bus;
  test::ScriptedDialogs dialogs;
  AppDelegate app(bus, dialogs);
  Catalogue cat(kPlaylistFile, "SAVE PLAYLIST !!!!!", "LOAD PLAYLIST !!!!!");
  bus.register_observer(&cat, note::SAVE, [&](const QVariant&) { cat.save(); });
  cat.list().append({{"id", 1}, {"name", "made just before quitting"}});
  BackgroundWriter::instance().set_delay_for_tests(1500);  // a slow disk
  app.applicationWillTerminate();
  BackgroundWriter::instance().set_delay_for_tests(0);
  bus.unregister(&cat);
  EXPECT_TRUE(log().contains("WAITING FOR SAVES TO FINISH ...")) << "said when it takes more than a second";
  Catalogue again(kPlaylistFile, "", "");
  again.load();
  ASSERT_EQ(again.list().size(), 1);
  EXPECT_EQ(again.list().at(0)["name"], "made just before quitting");
}

TEST_F(SavedState, FreeIdIsTheLowestUnusedBelow65535) {
  Catalogue cat(kPlaylistFile, "", "");
  EXPECT_EQ(cat.free_id(), 1);
  cat.list().set_records({{{"id", 1}}, {{"id", 2}}, {{"id", 4}}});
  EXPECT_EQ(cat.free_id(), 3);
  RecordArray all;
  for (int i = 1; i < 65535; ++i) all.append({{"id", i}});
  cat.list().set_records(all);
  EXPECT_FALSE(cat.free_id().has_value());
}

#include "server/http_log.h"

TEST(HttpLog, HasNoSinkByDefault) {
  EXPECT_TRUE(tavri::http::log_outputs()->sinks().empty());
  tavri::http::log()->warn("reaches no output");
}
