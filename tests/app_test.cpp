#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUrl>

#include "app/controllers.h"
#include "core/catalogue.h"
#include "core/catalogue_file.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/notifications.h"
#include "support/event_loop.h"
#include "support/fake_window.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"

using namespace tavri;

namespace {

const QStringList kNames = {note::SAVE, note::LOAD, note::INIT, note::APPLICATION_DID_FINISH_LAUNCHING,
                            note::INIT_SERVER, note::SET_SERVER_PATH, note::SAVE_ALL_LISTS,
                            note::SCHEDULE_LIST_DID_CHANGE};

class App : public test::TestHome {
 protected:
  void SetUp() override {
    TestHome::SetUp();
    for (const QString& n : kNames)
      bus.register_observer(&journal, n, [this, n](const QVariant& v) {
        journal << (v.isValid() ? n + " " + v.toString() : n);
      });
  }
  // Writes an export file and imports it through the open panel.
  void import_file(const QString& path, const QByteArray& bytes, Controllers& c) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    dialogs.open_answers.push_back(QStringList{path});
    c.app.import_all();
  }
  void attach(Controllers& c) {
    c.app.set_windows({&playlists, &content, &devices, &schedule});
  }
  QByteArray doc(const QString& name) {
    QFile f(documents_folder() + "/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  Bus bus;
  test::ScriptedDialogs dialogs;
  QStringList journal;
  test::FakeWindow playlists{&journal, "playlists"}, content{&journal, "content"}, devices{&journal, "devices"},
      schedule{&journal, "schedule"};
};

}  // namespace

TEST_F(App, FreshStartFillsNothingAndMovesNoWindow) {
  Controllers c(bus, dialogs);
  attach(c);
  c.app.applicationDidFinishLaunching();
  EXPECT_EQ(journal, (QStringList{"init", "applicationDidFinishLaunching", "INIT_SERVER", "LOAD"}));
  EXPECT_EQ(c.file_list.select_label_path(), "ANY FOLDER SELECTED");
  EXPECT_TRUE(c.playlists.ArrayController_PLAYLIST().empty());
  EXPECT_TRUE(c.udp_feedback.ArrayController_DEVICES().empty());
  EXPECT_TRUE(c.server.document_root().isEmpty());
}

TEST_F(App, SavedFolderReachesServerInsideLoadAndFramesComeLast) {
  const QString folder = home() + "/My Content";
  QDir().mkpath(folder);
  QFile f(documents_folder() + "/" + kFolderFile);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QUrl::fromLocalFile(folder + "/").toEncoded());
  f.close();
  QDir().mkpath(application_folder());
  QFile w(application_folder() + "/" + kWindowsFile);
  ASSERT_TRUE(w.open(QIODevice::WriteOnly));
  w.write(encode_archive({{"WINDOW_DEVICELIST", QRectF(-100, 35, 300, 200)}}));
  w.close();

  Controllers c(bus, dialogs);
  attach(c);
  c.app.applicationDidFinishLaunching();
  EXPECT_EQ(journal, (QStringList{"init", "applicationDidFinishLaunching", "INIT_SERVER", "LOAD",
                                  "SET_SERVER_PATH " + folder, "frame devices"}));
  EXPECT_EQ(c.server.document_root(), folder);
  EXPECT_EQ(c.file_list.select_label_path(), "My Content");
  EXPECT_EQ(devices.frame_, QRectF(-100, 35, 300, 200));
  EXPECT_EQ(playlists.frame_, QRectF()) << "absent keys leave windows alone";
}

// The schedules load before the content list: the folder is known to them
// all the same, so a start logs no failed write and the file is in place.
TEST_F(App, ListsLoadedBeforeTheContentListPublishIntoItsFolder) {
  const QString folder = home() + "/content";
  QDir().mkpath(folder);
  {
    Controllers first(bus, dialogs);
    first.app.applicationDidFinishLaunching();
    first.file_list.choose_folder(folder);
    ASSERT_TRUE(first.schedule.create("Week").ok());
    first.app.SAVE_ALL();
  }
  QFile::remove(folder + "/SCHEDULE_ID_1.SAV");
  clear_log();
  Controllers c(bus, dialogs);
  c.app.applicationDidFinishLaunching();
  EXPECT_TRUE(test::spin_until([&] { return QFile::exists(folder + "/SCHEDULE_ID_1.SAV"); }));
  EXPECT_FALSE(log().contains("SAVE ERROR !!!!!")) << log().join("\n").toStdString();
}

TEST_F(App, QuitSavesEveryFileThenTheLayoutEvenOnAFreshMachine) {
  Controllers c(bus, dialogs);
  attach(c);
  playlists.frame_ = QRectF(10, 20, 640.5, 480);
  c.app.applicationWillTerminate();
  EXPECT_EQ(journal.first(), "SAVE");
  const QStringList lines = log();
  const int devices_saved = lines.indexOf("SAVE DEVICES !!!!!");
  const int windows_saved = lines.indexOf("SAVE WINDOWS !!!!!");
  ASSERT_GE(devices_saved, 0);
  ASSERT_GT(windows_saved, devices_saved);
  EXPECT_TRUE(lines.contains("SAVE PLAYLIST !!!!!"));
  EXPECT_TRUE(lines.contains("SAVE SCHEDULE LIST !!!!!"));
  // No folder chosen yet: the folder file cannot be written.
  EXPECT_TRUE(lines.contains(kSaveErrorTag));

  QFile w(application_folder() + "/" + kWindowsFile);
  ASSERT_TRUE(w.open(QIODevice::ReadOnly));
  const auto top = decode_archive(w.readAll());
  ASSERT_TRUE(top.has_value());
  EXPECT_EQ(top->value("WINDOW_PLAYLISTS").toRectF(), QRectF(10, 20, 640.5, 480));
  EXPECT_EQ(top->keys().size(), 4);
  EXPECT_TRUE(QFile::exists(app_support_folder() + "/temp/tmp_34_56_3234.temp"));
}

TEST_F(App, TogglesCloseAVisibleWindowAndBringItBackWithItsFrame) {
  Controllers c(bus, dialogs);
  attach(c);
  devices.frame_ = QRectF(1, 2, 3, 4);
  c.app.open_window_devices();
  EXPECT_FALSE(devices.visible_);
  c.app.open_window_devices();
  EXPECT_TRUE(devices.visible_);
  EXPECT_EQ(devices.frame_, QRectF(1, 2, 3, 4));
  c.app.set_windows({});
  c.app.open_window_schedule();  // no window set: nothing happens
}

TEST_F(App, ExportThenImportReplacesOnlyTheCatalogues) {
  Controllers c(bus, dialogs);
  attach(c);
  c.playlists.ArrayController_PLAYLIST().append({{"id", 1}, {"name", "Lobby"}});
  c.schedule.ArrayController_SCHEDULELIST().append({{"id", 4}, {"name", "Week"}});
  dialogs.save_answers.push_back(home() + "/out/Export.txt");
  QDir().mkpath(home() + "/out");
  c.app.export_all();
  const QString exported = home() + "/out/Export.morvane_export";
  ASSERT_TRUE(QFile::exists(exported));
  EXPECT_TRUE(log().contains("EXPORT PATH: " + exported));

  // A new machine: other catalogues, a registry that must survive.
  const QByteArray registry_before = [&] {
    QFile f(app_support_folder() + "/temp/tmp_34_56_3234.temp");
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }();
  c.playlists.ArrayController_PLAYLIST().set_records({{{"id", 9}, {"name", "Other"}}});
  c.playlists.save();
  journal.clear();
  dialogs.open_answers.push_back(QStringList{home() + "/out/Export"});  // extension restored
  c.app.import_all();
  EXPECT_TRUE(log().contains("IMPORT PATH: " + exported));
  ASSERT_EQ(c.playlists.ArrayController_PLAYLIST().size(), 1);
  EXPECT_EQ(c.playlists.ArrayController_PLAYLIST().at(0).value("name").toString(), "Lobby");
  EXPECT_EQ(c.schedule.ArrayController_SCHEDULELIST().at(0).value("id").toInt(), 4);
  EXPECT_TRUE(journal.contains("LOAD"));
  // Save-all follows the load (and republishes, which posts more).
  EXPECT_GT(journal.indexOf("morvane_save_all_lists"), journal.indexOf("LOAD"));
  QFile f(app_support_folder() + "/temp/tmp_34_56_3234.temp");
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), registry_before);
}

TEST_F(App, ImportNeverWritesOutsideTheDocumentsFolder) {
  Controllers c(bus, dialogs);
  attach(c);
  const QString outside = home() + "/x";
  const QVariantMap hostile{{"../x", QByteArray("evil")},
                            {outside, QByteArray("evil")},
                            {"/etc/x", QByteArray("evil")},
                            {"tavri_AV_SERVER_DATA.sav", QByteArray("evil")},
                            {kPlaylistFile, QString("not bytes")}};
  import_file(home() + "/hostile.morvane_export", encode_root_archive(hostile), c);
  EXPECT_FALSE(QFile::exists(outside));
  EXPECT_FALSE(QFile::exists(documents_folder() + "/../x"));
  EXPECT_FALSE(QFile::exists(documents_folder() + "/tavri_AV_SERVER_DATA.sav"));
  QFile saved(documents_folder() + "/" + kPlaylistFile);  // the save before the panel
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_TRUE(is_catalogue_archive(saved.readAll()));
  EXPECT_EQ(log().filter("IMPORT REFUSED").size(), 5);
}

TEST_F(App, UnreadableImportAndCancelKeepEveryEdit) {
  Controllers c(bus, dialogs);
  attach(c);
  c.playlists.ArrayController_PLAYLIST().append({{"id", 1}, {"name", "unsaved"}});
  const QString path = home() + "/junk.morvane_export";
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("this is not an archive");
  f.close();
  dialogs.open_answers.push_back(QStringList{path});
  c.app.import_all();
  ASSERT_EQ(c.playlists.ArrayController_PLAYLIST().size(), 1) << "the edit is kept";
  EXPECT_EQ(journal.filter("LOAD").size(), 0);
  EXPECT_TRUE(QFile::exists(documents_folder() + "/" + kPlaylistFile)) << "saved before the panel";
  journal.clear();
  c.app.import_all();  // cancelled
  EXPECT_EQ(journal.filter("LOAD").size(), 0);
  EXPECT_EQ(journal.first(), "SAVE");
  EXPECT_EQ(c.playlists.ArrayController_PLAYLIST().size(), 1);
}

TEST_F(App, ImportChecksEachCatalogueAndKeepsTheOneItReplaces) {
  Controllers c(bus, dialogs);
  attach(c);
  c.playlists.ArrayController_PLAYLIST().append({{"id", 1}, {"name", "mine"}});
  c.schedule.ArrayController_SCHEDULELIST().append({{"id", 1}, {"name", "my schedule"}, {"tasklist", QVariantList()}});
  const QByteArray theirs = encode_archive({{"SPEICHER", QVariantList{QVariantMap{{"id", 7}, {"name", "theirs"}}}}});
  const QVariantMap entries{{kPlaylistFile, theirs}, {kScheduleFile, QByteArray("bplist00 not a catalogue")}};
  import_file(home() + "/other.morvane_export", encode_root_archive(entries), c);
  ASSERT_EQ(c.playlists.ArrayController_PLAYLIST().size(), 1);
  EXPECT_EQ(c.playlists.ArrayController_PLAYLIST().at(0)["name"], "theirs");
  ASSERT_EQ(c.schedule.ArrayController_SCHEDULELIST().size(), 1) << "a broken entry replaces nothing";
  EXPECT_EQ(c.schedule.ArrayController_SCHEDULELIST().at(0)["name"], "my schedule");
  EXPECT_EQ(log().filter("IMPORT REFUSED").size(), 1);
  const QStringList kept = QDir(documents_folder()).entryList({QString(kPlaylistFile) + ".before-import-*"});
  ASSERT_EQ(kept.size(), 1);
  Catalogue before(kept.first(), "", "");
  before.load();
  ASSERT_EQ(before.list().size(), 1);
  EXPECT_EQ(before.list().at(0)["name"], "mine");
}

TEST_F(App, ANewListDoesNotTakeTheIdOfOneAPlayerStillPlays) {
  Controllers c(bus, dialogs);
  c.playlists.ArrayController_PLAYLIST().set_records({{{"id", 2}, {"name", "Bar"}}});
  // Playlist 1 was removed, but a player still plays it; schedule 3 likewise.
  for (const char* list : {"1", "3"})
    c.udp_feedback.ArrayController_DEVICES().append({{"device_id", QString("P%1").arg(list)}, {"id_playlist", list}});
  dialogs.prompt_answers = {QString("Lobby"), QString("Week")};
  c.playlists.add_new_playlist();
  c.schedule.add_new_playlist();
  RecordList& playlists = c.playlists.ArrayController_PLAYLIST();
  RecordList& schedules = c.schedule.ArrayController_SCHEDULELIST();
  ASSERT_EQ(playlists.size(), 2);
  EXPECT_EQ(playlists.selected_records().first()["id"].toInt(), 4);
  EXPECT_EQ(schedules.selected_records().first()["id"].toInt(), 2);
  EXPECT_EQ(c.playlists.catalogue().free_id(), 5);
  // With every id below 65535 taken or in use, the lowest no record carries.
  RecordArray all;
  for (int i = 1; i < 65535; ++i)
    if (i != 1 && i != 3) all.append({{"id", i}});
  playlists.set_records(all);
  EXPECT_EQ(c.playlists.catalogue().free_id(), 1);
}

// Feedback names only ids: a player still on a removed list is not shown
// under the name of the list that took its id, until this server sends it.
TEST_F(App, AReusedIdNamesOnlyThePlayersSentTheNewList) {
  auto player = [](const char* id, const char* list) {
    return Record{{"device_id", id}, {"device_name", id}, {"id_playlist", list}};
  };
  {
    Controllers c(bus, dialogs);
    RecordList& devices = c.udp_feedback.ArrayController_DEVICES();
    c.playlists.ArrayController_PLAYLIST().set_records({{{"id", 1}, {"name", "Lobby"}}});
    devices.set_records({player("P1", "1"), player("P2", "1"), player("P3", "1")});
    EXPECT_EQ(c.list_name("P2", "1"), "Lobby");  // from before ids were followed
    devices.select_list_indices({0});
    c.udp_feedback.send_playlist(QVariantMap{{"id", 1}, {"name", "Lobby"}});
    // "Lobby" is removed; while no player reports id 1, "Second" takes it.
    c.playlists.ArrayController_PLAYLIST().set_records({});
    devices.set_records({player("P1", "5"), player("P2", "5"), player("P3", "5")});
    dialogs.prompt_answers = {QString("Second")};
    c.playlists.add_new_playlist();
    ASSERT_EQ(c.playlists.ArrayController_PLAYLIST().at(0)["id"].toInt(), 1);
    EXPECT_EQ(c.list_name("P1", "1"), "");
    EXPECT_EQ(c.list_name("P2", "1"), "");
    // A schedule sends the playlists of its tasks too.
    devices.select_list_indices({1});
    c.udp_feedback.send_playlist(
        QVariantMap{{"id", 7}, {"name", "Week"}, {"tasklist", QVariantList{QVariantMap{{"list", "1"}}}}});
    EXPECT_EQ(c.list_name("P2", "1"), "Second") << "no schedule 7 in the catalogue: the playlist's name";
    EXPECT_EQ(c.list_name("P3", "1"), "");
    c.schedule.ArrayController_SCHEDULELIST().set_records({{{"id", 7}, {"name", "Week"}}});
    EXPECT_EQ(c.list_name("P2", "1"), "Week") << "the schedule it runs";
    c.schedule.ArrayController_SCHEDULELIST().set_records({});
    c.playlists.catalogue().save();
    c.udp_feedback.save();
  }
  Controllers c(bus, dialogs);
  c.playlists.load();
  c.udp_feedback.load();
  EXPECT_EQ(c.list_name("P2", "1"), "Second");
  EXPECT_EQ(c.list_name("P3", "1"), "");
  // An import that brings another list under id 1 takes the id anew.
  RecordList& lists = c.playlists.ArrayController_PLAYLIST();
  lists.set_records({{{"id", 1}, {"name", "Imported"}}});
  c.playlists.catalogue().save();
  lists.set_records({{{"id", 1}, {"name", "Second"}}});
  c.playlists.load();
  EXPECT_EQ(c.list_name("P2", "1"), "");
}
