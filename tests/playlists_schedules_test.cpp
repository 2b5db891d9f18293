#include <gtest/gtest.h>

#include <tuple>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include "content/file_list.h"
#include "core/bus.h"
#include "core/folders.h"
#include "core/local_day.h"
#include "core/movielist.h"
#include "core/undo_history.h"
#include "playlists/published_file.h"
#include "core/notifications.h"
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"
#include "support/pictures.h"
#include "support/event_loop.h"
#include "support/plist_reader.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"

using namespace tavri;

namespace {

// Its file is made too: a list with missing media asks before it is sent.
Record content_item(const QString& folder, const QString& name, bool image, QVariant length) {
  const PngImage icon = test::filled_png(8, 8, Qt::green);
  const QString path = folder + "/" + name + (image ? ".png" : ".mov");
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write("media");
  return Record{{"file_name", name},
                {"file_url", QUrl::fromLocalFile(path)},
                {"is_img", image},
                {"file_length", length},
                {"file_found", 1},
                {"file_icon", QVariant::fromValue(icon)}};
}

// The controllers of this area, built in the application's order, with a
// content folder chosen so that published files have a home.
class Editors : public test::TestHome {
 protected:
  void SetUp() override {
    TestHome::SetUp();
    folder_ = home() + "/content";
    QDir().mkpath(folder_);
    build();
    dialogs_.open_answers.push_back(QStringList{folder_});
    files_->press_select();
    // The empty folder's scan would replace the list below when it ends,
    // and its relink mark every item missing: on a slow machine mid-test.
    files_->cancel_scan();
    dialogs_.shown.clear();
    content().set_records({content_item(folder_, "Lobby Loop", false, 42.5), content_item(folder_, "Logo", true, "5"),
                           content_item(folder_, "Clip", false, 10.0)});
    bus_.register_observer(this, note::SEND_PLAYLIST, [this](const QVariant& v) { sent_ << v.toMap(); });
  }
  void build() {
    schedule_ = std::make_unique<Schedule>(bus_, dialogs_);
    schedule_view_ = std::make_unique<Schedule_View>(bus_, dialogs_);
    files_ = std::make_unique<FileList>(bus_, dialogs_);
    editor_ = std::make_unique<display_playlist>(bus_, dialogs_);
    playlists_ = std::make_unique<PlayList>(bus_, dialogs_);
    files_->set_playlists(&playlists_->ArrayController_PLAYLIST());
    editor_->attach(playlists_.get(), &files_->ArrayController_FILELIST());
    schedule_view_->attach(schedule_.get(), playlists_.get(), &files_->ArrayController_FILELIST());
    playlists_->set_users(schedule_view_.get());
  }
  void TearDown() override {
    bus_.unregister(this);
    playlists_.reset();
    editor_.reset();
    files_.reset();
    schedule_view_.reset();
    schedule_.reset();
    TestHome::TearDown();
  }

  RecordList& content() { return files_->ArrayController_FILELIST(); }
  RecordList& playlists() { return playlists_->ArrayController_PLAYLIST(); }
  RecordList& items() { return editor_->ArrayController_DISPLAYLIST(); }
  RecordList& schedules() { return schedule_->ArrayController_SCHEDULELIST(); }
  RecordList& tasks() { return schedule_view_->ArrayController_SCHEDULE_VIEW(); }

  void new_playlist(const QString& name) {
    dialogs_.prompt_answers.push_back(name);
    playlists_->add_new_playlist();
  }
  void select_content(const QList<int>& rows) { content().select_list_indices(rows); }
  // A playlist "Lobby" (id 1) of one item, played by the one task of a schedule "Week".
  void lobby_played_by_week(bool active_as_boolean = false) {
    new_playlist("Lobby");
    select_content({0});
    editor_->ADD_FILE_TO_LIST();
    dialogs_.prompt_answers.push_back(QString("Week"));
    schedule_->add_new_playlist();
    dialogs_.prompt_answers.push_back(QString("Morning"));
    schedule_view_->add_line();
    tasks().set_value(0, "list", 1);
    if (active_as_boolean) tasks().set_value(0, "active", true);
    schedule_view_->task_count_change();
  }
  int publications(const QString& tag) { return static_cast<int>(log().count(tag)); }
  QString published(const QString& name) { return folder_ + "/" + name; }
  QJsonObject read_published(const QString& name) {
    wait_for_writes();
    QString error;
    auto read = test::read_with_plistlib(published(name), &error);
    if (!read) return {};
    EXPECT_FALSE(read->contains("$error")) << error.toStdString();
    return (*read)["root"].toObject();
  }

  Bus bus_;
  test::ScriptedDialogs dialogs_;
  QString folder_;
  std::unique_ptr<Schedule> schedule_;
  std::unique_ptr<Schedule_View> schedule_view_;
  std::unique_ptr<FileList> files_;
  std::unique_ptr<display_playlist> editor_;
  std::unique_ptr<PlayList> playlists_;
  QList<Record> sent_;
};

}  // namespace

TEST_F(Editors, PlaylistCatalogueIdsSortingCopiesAndRenames) {
  new_playlist("Zoo");
  EXPECT_EQ(playlists().at(0)["id"], 1);
  EXPECT_EQ(playlists().selected_list_indices(), QList<int>{0});
  EXPECT_EQ(dialogs_.shown[0].message, "Please enter the new name:");
  EXPECT_EQ(dialogs_.shown[0].detail, "New List");
  EXPECT_EQ(dialogs_.shown[0].width, 200);
  new_playlist("Alpha");
  new_playlist("Mid");
  playlists().remove_at(1);  // frees id 2
  new_playlist("Beta");
  EXPECT_EQ(playlists().at(2)["id"], 2);
  playlists_->copy_playlist();  // copies Beta, appended and selected
  EXPECT_EQ(playlists().at(3)["name"], "Beta");
  EXPECT_EQ(playlists().at(3)["id"], 4);
  EXPECT_EQ(playlists().selected_list_indices(), QList<int>{3});

  // Rename saves, which sorts by name; "" is accepted.
  dialogs_.prompt_answers.push_back(QString(""));
  playlists_->changeName();
  QStringList names;
  for (const Record& r : playlists().records()) names << r["name"].toString();
  EXPECT_EQ(names, (QStringList{"", "Beta", "Mid", "Zoo"}));
  wait_for_writes();
  EXPECT_TRUE(log().contains("SAVE PLAYLIST !!!!!"));

  // The array over the bus comes in that same order.
  Schedule_Play_list_Array choices(bus_);
  EXPECT_EQ(choices.transformedValue(), (QStringList{"---", "4 - ", "2 - Beta", "3 - Mid", "1 - Zoo"}));

  playlists().clear_selection();
  dialogs_.shown.clear();
  playlists_->changeName();
  EXPECT_TRUE(dialogs_.shown.empty());  // nothing selected: no prompt
}

TEST_F(Editors, NoFreeIdCreatesNothing) {
  RecordArray full;
  for (int id = 1; id < 65535; ++id) full.append({{"id", id}, {"name", "p"}});
  playlists().set_records(full);
  new_playlist("one too many");
  EXPECT_EQ(playlists().size(), 65534);
  EXPECT_EQ(dialogs_.alert_messages(), QStringList{"No free id"});
}

TEST_F(Editors, PublishedPlaylistFileLayout) {
  new_playlist("Lobby");
  select_content({0, 1});
  editor_->ADD_FILE_TO_LIST();
  ASSERT_TRUE(QFile::exists(published("PLAYLIST_ID_1.SAV")));
  EXPECT_EQ(items().selected_list_indices(), QList<int>{1});  // the last added is current

  // The catalogue keeps thumbnails in an encoded blob.
  const Record record = playlists().at(0);
  EXPECT_EQ(record["movielist"].typeId(), QMetaType::QByteArray);
  EXPECT_EQ(record["movies"], 2);
  EXPECT_TRUE(is_picture(decode_movielist(record)[0]["file_icon"]));

  const QJsonObject file = read_published("PLAYLIST_ID_1.SAV");
  if (file.isEmpty()) GTEST_SKIP() << "python3 not installed";
  const QStringList keys = file.keys();
  EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()), QSet<QString>({"id", "name", "movies", "movielist"}));
  EXPECT_TRUE(file["id"].isDouble());
  EXPECT_EQ(file["id"].toInt(), 1);
  EXPECT_EQ(file["movies"].toInt(), 2);
  EXPECT_EQ(file["name"].toString(), "Lobby");
  const QJsonArray list = file["movielist"].toArray();  // a plain list here
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list[0].toObject()["file_icon"].toString(), "KEIN BILD");
  EXPECT_EQ(list[0].toObject()["file_url"].toObject()["$url"].toString(), QString(QUrl::fromLocalFile(folder_ + "/Lobby Loop.mov").toEncoded()));
  EXPECT_EQ(list[0].toObject()["file_length"].toObject()["$real"].toDouble(), 42.5);
  EXPECT_EQ(list[1].toObject()["file_name"].toString(), "Logo");
}

TEST_F(Editors, ItemEditsMovesLengthsAndReplacements) {
  new_playlist("Lobby");
  select_content({1, 0});
  editor_->ADD_FILE_TO_LIST();  // content order: Lobby Loop, Logo
  const int written = publications("SAVE PLAYLIST TO ROOT !!!!!");

  items().select_list_indices({0});
  editor_->MOVE_UP();  // first item: nothing, nothing written
  items().select_list_indices({1});
  editor_->MOVE_DOWN();
  EXPECT_EQ(publications("SAVE PLAYLIST TO ROOT !!!!!"), written);
  editor_->MOVE_UP();
  EXPECT_EQ(items().at(0)["file_name"], "Logo");
  EXPECT_EQ(items().selected_list_indices(), QList<int>{0});
  EXPECT_EQ(decode_movielist(playlists().at(0))[0]["file_name"], "Logo");

  // Lengths of an image: read as an integer; none, zero or less is refused.
  for (const auto& [typed, stored] : {std::pair{"12s", 12}, {"abc", 12}, {" -3", 12}, {"0", 12}, {"7", 7}}) {
    dialogs_.shown.clear();
    dialogs_.prompt_answers.push_back(QString(typed));
    editor_->changeImg_length();
    EXPECT_EQ(items().at(0)["file_length"], stored) << typed;
    EXPECT_EQ(dialogs_.alert_messages().size(), stored == 12 && QString(typed) != "12s" ? 1 : 0) << typed;
  }
  dialogs_.prompt_answers.push_back(QString("12"));
  editor_->changeImg_length();
  EXPECT_EQ(dialogs_.shown.back().message, "Please enter the new length in seconds:");
  items().select_list_indices({1});
  const int before = publications("SAVE PLAYLIST TO ROOT !!!!!");
  editor_->changeImg_length();
  EXPECT_EQ(dialogs_.alert_messages().last(), "This is not an image.");
  EXPECT_EQ(publications("SAVE PLAYLIST TO ROOT !!!!!"), before);

  // Replacing the 12-second image: by an image keeps 12, by a video its own.
  items().select_list_indices({0});
  select_content({1, 2});
  editor_->REPLACE_FILE();
  EXPECT_EQ(dialogs_.shown.back().detail, "please select only one file in file-list for replacing");
  content().set_records(content().records() << content_item(folder_, "Other", true, "5"));
  select_content({3});
  editor_->REPLACE_FILE();
  EXPECT_EQ(items().at(0)["file_name"], "Other");
  EXPECT_EQ(items().at(0)["file_length"], 12);
  select_content({2});
  editor_->REPLACE_FILE();
  EXPECT_EQ(items().at(0)["file_length"], 10.0);

  // Deleting the last item publishes the empty playlist: players never keep
  // the old items.
  const RecordArray before_delete = decode_movielist(playlists().at(0));
  editor_->DELETE_MOVIE();
  editor_->DELETE_MOVIE();
  EXPECT_EQ(playlists().at(0)["movies"], 0);
  EXPECT_TRUE(decode_movielist(playlists().at(0)).isEmpty());
  const QJsonObject emptied = read_published("PLAYLIST_ID_1.SAV");
  EXPECT_EQ(emptied["movies"].toInt(), 0);
  EXPECT_TRUE(emptied["movielist"].toArray().isEmpty());

  // Undone, newest first, the items come back where they were, and are
  // published again.
  editor_->UNDO_DELETE();
  editor_->UNDO_DELETE();
  EXPECT_FALSE(editor_->can_undo_delete());
  EXPECT_EQ(decode_movielist(playlists().at(0)), before_delete);
  EXPECT_EQ(read_published("PLAYLIST_ID_1.SAV")["movies"].toInt(), 2);
  editor_->DELETE_MOVIE();
  editor_->DELETE_MOVIE();

  // Sending the empty playlist still asks the players to load it.
  editor_->send_to_device();
  ASSERT_EQ(sent_.size(), 1);
  EXPECT_EQ(sent_[0]["id"], 1);
  EXPECT_FALSE(sent_[0].contains("tasklist"));

  // A playlist whose file cannot be written is not sent, and the operator
  // is told: the players would fetch nothing.
  QFile::remove(folder_ + "/PLAYLIST_ID_1.SAV");
  QDir().mkpath(folder_ + "/PLAYLIST_ID_1.SAV/in_the_way");
  select_content({0});
  editor_->ADD_FILE_TO_LIST();
  editor_->send_to_device();
  EXPECT_EQ(sent_.size(), 1);
  EXPECT_EQ(dialogs_.alert_messages().last(), "The playlist \"Lobby\" was not sent.");
}

// The item operations by id, as the API calls them, work on a playlist the
// editor does not show, give its file the bytes the buttons give, and
// refuse a bad index or value without a change.
TEST_F(Editors, ItemOperationsByIdMatchTheButtonsOnAnyPlaylist) {
  auto file_bytes = [&] {
    wait_for_writes();
    QFile f(published("PLAYLIST_ID_1.SAV"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  new_playlist("Lobby");
  select_content({0, 1});
  editor_->ADD_FILE_TO_LIST();  // Lobby Loop, Logo
  items().select_list_indices({1});
  editor_->MOVE_UP();
  dialogs_.prompt_answers.push_back(QString("9"));
  editor_->changeImg_length();
  const QByteArray by_buttons = file_bytes();
  ASSERT_FALSE(by_buttons.isEmpty());

  new_playlist("Hall");  // shown now; Lobby is edited by id only
  ASSERT_TRUE(editor_->remove_item(1, 1).ok());
  ASSERT_TRUE(editor_->remove_item(1, 0).ok());
  ASSERT_TRUE(editor_->insert_items(1, 0, {content().at(0), content().at(1)}).ok());
  ASSERT_TRUE(editor_->move_item(1, 1, 0).ok());
  ASSERT_TRUE(editor_->set_image_length(1, 0, 9).ok());
  EXPECT_EQ(file_bytes(), by_buttons);
  EXPECT_TRUE(items().records().isEmpty());  // the shown playlist is untouched

  EXPECT_EQ(editor_->move_item(1, 2, 0).field, "index");
  EXPECT_EQ(editor_->remove_item(1, -1).field, "index");
  EXPECT_EQ(editor_->set_image_length(1, 1, 5).field, "index");  // a movie
  EXPECT_EQ(editor_->set_image_length(1, 0, 0).field, "seconds");
  EXPECT_EQ(editor_->replace_item(9, 0, content().at(0)).field, "id");
  EXPECT_EQ(file_bytes(), by_buttons);
}

// The task operations by id work on a schedule the editor does not show,
// publish it, and refuse a bad row, key or value without a change.
TEST_F(Editors, TaskOperationsByIdWorkOnAnyScheduleAndRefuseBadValues) {
  lobby_played_by_week();
  dialogs_.prompt_answers.push_back(QString("Other"));
  schedule_->add_new_playlist();  // shown now; Week is edited by id only
  ASSERT_TRUE(schedule_view_->set_task_value(1, {0}, "time", "07:30").ok());
  ASSERT_TRUE(schedule_view_->set_task_value(1, {0}, "active", false).ok());
  EXPECT_TRUE(tasks().records().isEmpty());
  for (const auto& [rows, key, value, field] :
       {std::tuple{QList<int>{0}, "time", QVariant("7:30"), "value"}, {{1}, "time", "08:00", "rows"},
        {{0}, "colour", "red", "key"}, {{0}, "list", 99, "value"}, {{}, "name", "A", "rows"}})
    EXPECT_EQ(schedule_view_->set_task_value(1, rows, key, value).field, field) << key;
  EXPECT_EQ(schedule_view_->remove_tasks(9, {0}).field, "id");
  const QJsonObject file = read_published("SCHEDULE_ID_1.SAV");
  if (file.isEmpty()) GTEST_SKIP() << "python3 not installed";
  const QJsonObject task = file["movielist"].toArray()[0].toObject();
  EXPECT_EQ(task["time"].toString(), "07:30");
  EXPECT_EQ(task["active"].toInt(), 0);
  EXPECT_FALSE(task.contains("playlist_files"));  // inactive: not embedded
  ASSERT_TRUE(schedule_view_->remove_tasks(1, {0}).ok());
  EXPECT_TRUE(read_published("SCHEDULE_ID_1.SAV")["movielist"].toArray().isEmpty());
}

TEST_F(Editors, PlaylistsPerFileTakeTheLowestFreeIds) {
  playlists().set_records({{{"id", 1}, {"name", "a"}}, {{"id", 3}, {"name", "b"}}});
  select_content({0, 1, 2});
  editor_->PLAYLIST_CREATOR_SEP();
  ASSERT_EQ(playlists().size(), 5);
  EXPECT_EQ(playlists().at(2)["id"], 2);
  EXPECT_EQ(playlists().at(2)["name"], "Lobby Loop");
  EXPECT_EQ(playlists().at(3)["id"], 4);
  EXPECT_EQ(playlists().at(4)["id"], 5);
  EXPECT_EQ(playlists().selected_list_indices(), QList<int>{4});
  for (const char* file : {"PLAYLIST_ID_2.SAV", "PLAYLIST_ID_4.SAV", "PLAYLIST_ID_5.SAV"})
    EXPECT_TRUE(QFile::exists(published(file))) << file;
  EXPECT_EQ(playlists().at(3)["movies"], 1);
}

TEST_F(Editors, TaskOrderCountsAndTheScheduleFile) {
  new_playlist("Lobby");
  select_content({0});
  editor_->ADD_FILE_TO_LIST();
  new_playlist("Empty");

  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  wait_for_writes();
  EXPECT_TRUE(log().contains("SAVE SCHEDULE LIST !!!!!"));
  EXPECT_EQ(schedules().at(0)["id"], 1);
  for (const char* name : {"A", "B", "C"}) {
    dialogs_.prompt_answers.push_back(QString(name));
    schedule_view_->add_line();
  }
  EXPECT_EQ(schedules().at(0)["tasks"], 3);
  // (2024-05-02 08:00), (2024-05-01 09:00), (2024-05-03 08:00)
  const QList<std::pair<QString, QString>> when{{"2024-05-02", "08:00"}, {"2024-05-01", "09:00"}, {"2024-05-03", "08:00"}};
  for (int i = 0; i < 3; ++i) {
    tasks().set_value(i, "date", when[i].first);
    tasks().set_value(i, "time", when[i].second);
  }
  tasks().set_value(0, "list", 1);
  tasks().set_value(1, "list", 2);   // empty playlist
  tasks().set_value(2, "list", 1);
  tasks().set_value(2, "active", 0);
  schedule_view_->task_count_change();
  QStringList order;
  for (const Record& t : tasks().records()) order << t["name"].toString();
  EXPECT_EQ(order, (QStringList{"A", "C", "B"}));
  EXPECT_EQ(to_record_array(schedules().at(0)["tasklist"].toList())[1]["name"], "C");  // the record itself

  const QJsonObject file = read_published("SCHEDULE_ID_1.SAV");
  if (file.isEmpty()) GTEST_SKIP() << "python3 not installed";
  EXPECT_EQ(file["tasks"].toInt(), 3);
  EXPECT_EQ(file["tasklist"].toArray().size(), 3);
  const QJsonArray movielist = file["movielist"].toArray();
  ASSERT_EQ(movielist.size(), 3);
  const QJsonObject a = movielist[0].toObject();
  EXPECT_EQ(a["playlist_name"].toString(), "Lobby");
  EXPECT_EQ(a["playlist_file_name"].toString(), "PLAYLIST_ID_1.SAV");
  EXPECT_EQ(a["playlist_files"].toArray()[0].toObject()["file_icon"].toString(), "KEIN BILD");
  EXPECT_FALSE(movielist[1].toObject().contains("playlist_name"));  // inactive
  EXPECT_FALSE(movielist[2].toObject().contains("playlist_files"));  // empty playlist
  EXPECT_FALSE(file["tasklist"].toArray()[0].toObject().contains("playlist_name"));
  EXPECT_EQ(file["tasklist"].toArray()[0].toObject()["list"].toInt(), 1);

  // The playlist column's choices and names.
  Schedule_Play_list_name names(bus_);
  EXPECT_EQ(names.transformedValue(1), "1 - Lobby");
  EXPECT_EQ(names.transformedValue(-1), "---");
  EXPECT_EQ(names.transformedValue(9), "---");
  EXPECT_EQ(names.transformedValue(QVariant()), "---");
  EXPECT_EQ(names.reverseTransformedValue(QString("4 - Lobby")), 4);
  EXPECT_EQ(names.reverseTransformedValue(QString("---")), -1);
  EXPECT_EQ(names.reverseTransformedValue(QVariant()), -1);
  EXPECT_EQ(names.reverseTransformedValue(7), -1);

  // Send posts the dictionary just written.
  schedule_view_->send_to_device();
  ASSERT_EQ(sent_.size(), 1);
  EXPECT_TRUE(sent_[0].contains("tasklist"));
  EXPECT_EQ(sent_[0]["movielist"].toList().size(), 3);
}

TEST_F(Editors, TaskEditing) {
  new_playlist("Lobby");
  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  dialogs_.prompt_answers.push_back(QString("Morning"));
  schedule_view_->add_line();
  const Record morning = tasks().at(0);
  EXPECT_EQ(morning["list"], -1);
  EXPECT_EQ(morning["time"], "00:00");
  EXPECT_EQ(morning["daily"], 1);
  EXPECT_EQ(morning["active"], 1);
  EXPECT_EQ(morning["cut"], 0);
  EXPECT_EQ(morning["date"], QDate::currentDate().toString("yyyy-MM-dd"));

  tasks().select_list_indices({0});
  schedule_view_->copy_line();
  ASSERT_EQ(tasks().size(), 2);
  EXPECT_EQ(tasks().at(1)["name"], "Morning - copy");
  dialogs_.prompt_answers.push_back(QString("Third"));
  schedule_view_->add_line();

  tasks().select_list_indices({0, 1, 2});
  dialogs_.date_answers.push_back(QDateTime(QDate(2025, 1, 1), QTime(7, 45)));
  schedule_view_->change_time();
  for (const Record& t : tasks().records()) EXPECT_EQ(t["time"], "07:45");
  EXPECT_EQ(dialogs_.shown.back().message, "Please change the time:");

  dialogs_.shown.clear();
  schedule_view_->rename_line();  // three selected
  tasks().clear_selection();
  schedule_view_->rename_line();  // none
  EXPECT_EQ(dialogs_.alert_messages(), (QStringList{"sorry", "sorry"}));
  EXPECT_EQ(dialogs_.shown[0].detail, "please select one line for renameing");

  tasks().select_list_indices({2});
  dialogs_.shown.clear();
  schedule_view_->delete_line();  // asks first; the default keeps the task
  EXPECT_EQ(tasks().size(), 3);
  EXPECT_EQ(dialogs_.alert_messages(), QStringList{"Delete the task \"Third\"?"});
  EXPECT_EQ(dialogs_.shown.back().items, (QStringList{"Cancel", "Delete"}));
  dialogs_.alert_answers.push_back(1);
  schedule_view_->delete_line();
  EXPECT_EQ(tasks().size(), 2);
  EXPECT_EQ(schedules().at(0)["tasks"], 2);

  // A deep copy of the schedule: renaming a task in it leaves the source alone.
  schedule_->copy_playlist();
  ASSERT_EQ(schedules().size(), 2);
  const int copy = schedules().selected_list_indices().first();
  EXPECT_EQ(schedules().at(copy)["id"], 2);
  tasks().select_list_indices({0});
  dialogs_.prompt_answers.push_back(QString("Renamed"));
  schedule_view_->rename_line();
  EXPECT_EQ(to_record_array(schedules().at(copy)["tasklist"].toList())[0]["name"], "Renamed");
  EXPECT_EQ(to_record_array(schedules().at(1 - copy)["tasklist"].toList())[0]["name"], "Morning");

  // Deleting both schedules announces it once; nothing is saved.
  int announcements = 0;
  bus_.register_observer(&announcements, note::SCHEDULE_LIST_DID_CHANGE, [&](const QVariant&) { ++announcements; });
  schedules().select_list_indices({0, 1});
  announcements = 0;
  dialogs_.alert_answers.push_back(1);
  schedule_->delete_line();
  bus_.unregister(&announcements);
  EXPECT_EQ(schedules().size(), 0);
  EXPECT_EQ(announcements, 1);
  EXPECT_TRUE(tasks().empty());
}

// A new task is selected; rows move only when an edit of a time ends, and
// the edited task stays selected; a click on another row moves nothing.
TEST_F(Editors, ANewTaskIsSelectedAndRowsMoveOnlyWhenAnEditEnds) {
  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  auto names = [&] {
    QStringList order;
    for (const Record& t : tasks().records()) order << t["name"].toString();
    return order;
  };
  auto selected = [&] { return tasks().selected_records().value(0).value("name").toString(); };
  dialogs_.prompt_answers.push_back(QString("A"));
  schedule_view_->add_line();
  EXPECT_EQ(selected(), "A");
  dialogs_.date_answers.push_back(QDateTime(QDate::currentDate(), QTime(9, 0)));
  schedule_view_->change_time();
  dialogs_.prompt_answers.push_back(QString("B"));
  schedule_view_->add_line();  // 00:00: sorted before A, and selected there
  EXPECT_EQ(names(), (QStringList{"B", "A"}));
  EXPECT_EQ(selected(), "B");

  tasks().set_value(0, "time", "10:00");  // as a cell edit does
  tasks().select_list_indices({1});
  EXPECT_EQ(names(), (QStringList{"B", "A"})) << "a click reorders nothing";
  dialogs_.date_answers.push_back(QDateTime(QDate::currentDate(), QTime(11, 0)));
  schedule_view_->change_time();
  EXPECT_EQ(names(), (QStringList{"B", "A"}));
  dialogs_.date_answers.push_back(QDateTime(QDate::currentDate(), QTime(8, 0)));
  schedule_view_->change_time();
  EXPECT_EQ(names(), (QStringList{"A", "B"}));
  EXPECT_EQ(selected(), "A");
}

TEST_F(Editors, ScheduleWithoutPlaylistsIsPublishedWithoutEmbeddings) {
  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  dialogs_.prompt_answers.push_back(QString("A"));
  schedule_view_->add_line();
  schedule_view_->send_to_device();
  const QJsonObject file = read_published("SCHEDULE_ID_1.SAV");
  ASSERT_EQ(file["movielist"].toArray().size(), 1);
  EXPECT_FALSE(file["movielist"].toArray()[0].toObject().contains("playlist_files"));
  EXPECT_EQ(sent_.size(), 1);
}

TEST_F(Editors, ScheduleFromContentAndSaveAll) {
  new_playlist("Existing");
  select_content({0, 2});
  dialogs_.prompt_answers.push_back(QString("Week 12"));
  schedule_view_->create_schedule_from_content();
  ASSERT_EQ(playlists().size(), 3);
  EXPECT_EQ(playlists().at(1)["id"], 2);
  EXPECT_EQ(playlists().at(1)["name"], "Week 12 | Lobby Loop");
  EXPECT_EQ(playlists().at(2)["id"], 3);
  EXPECT_EQ(playlists().at(2)["name"], "Week 12 | Clip");
  ASSERT_EQ(tasks().size(), 2);
  EXPECT_EQ(tasks().at(0)["list"], 2);
  EXPECT_EQ(tasks().at(1)["list"], 3);
  EXPECT_EQ(tasks().at(1)["name"], "Week 12 | Clip");
  EXPECT_FALSE(QFile::exists(documents_folder() + "/" + kScheduleFile));  // neither catalogue saved
  const QJsonObject file = read_published("SCHEDULE_ID_1.SAV");
  if (!file.isEmpty()) {
    EXPECT_EQ(file["movielist"].toArray()[1].toObject()["playlist_name"].toString(), "Week 12 | Clip");
  }

  // Save-all republishes every playlist (the empty one too) and every schedule.
  for (const QString& f : QDir(folder_).entryList({"*.SAV"})) QFile::remove(folder_ + "/" + f);
  const QList<int> selection = playlists().selected_list_indices();
  bus_.post(note::SAVE_ALL_LISTS);
  wait_for_writes();
  EXPECT_EQ(QDir(folder_).entryList({"*.SAV"}, QDir::Files, QDir::Name),
            (QStringList{"PLAYLIST_ID_1.SAV", "PLAYLIST_ID_2.SAV", "PLAYLIST_ID_3.SAV", "SCHEDULE_ID_1.SAV"}));
  EXPECT_EQ(playlists().selected_list_indices(), selection);
}

TEST_F(Editors, FreshHomeRoundTrip) {
  new_playlist("Lobby");
  select_content({0, 1});
  editor_->ADD_FILE_TO_LIST();
  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  dialogs_.prompt_answers.push_back(QString("A"));
  schedule_view_->add_line();
  tasks().set_value(0, "list", 1);
  schedule_view_->task_count_change();
  bus_.post(note::SAVE);
  wait_for_writes();
  const RecordArray saved_playlists = playlists().records();
  const RecordArray saved_schedules = schedules().records();
  QMap<QString, QByteArray> files;
  for (const QString& f : QDir(folder_).entryList({"*.SAV"})) {
    QFile file(folder_ + "/" + f);
    file.open(QIODevice::ReadOnly);
    files[f] = file.readAll();
  }
  ASSERT_EQ(files.size(), 2);

  // Quit and start again.
  TearDown();
  TestHome::SetUp();
  qputenv("HOME", home().toUtf8());
  build();
  bus_.post(note::LOAD);
  EXPECT_EQ(playlists().records(), saved_playlists);
  EXPECT_EQ(schedules().records(), saved_schedules);
  wait_for_writes();
  for (auto it = files.begin(); it != files.end(); ++it) {
    QFile file(folder_ + "/" + it.key());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), it.value()) << it.key().toStdString();
  }
}

// ------------------------------------------------ players get what the operator sees

namespace {
QByteArray file_bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

TEST_F(Editors, RemovedPlaylistsLeaveNoFileAndAnEmptySendPublishesEmpty) {
  new_playlist("Old");
  select_content({0, 1});
  editor_->ADD_FILE_TO_LIST();
  ASSERT_TRUE(QFile::exists(published("PLAYLIST_ID_1.SAV")));
  dialogs_.alert_answers.push_back(1);  // Remove
  playlists_->remove_selected();
  EXPECT_TRUE(playlists().empty());
  EXPECT_FALSE(QFile::exists(published("PLAYLIST_ID_1.SAV")));

  new_playlist("Brand new");  // takes id 1 again
  editor_->send_to_device();
  ASSERT_EQ(sent_.size(), 1);
  const QJsonObject file = read_published("PLAYLIST_ID_1.SAV");
  EXPECT_EQ(file["name"].toString(), "Brand new");
  EXPECT_EQ(file["movies"].toInt(), 0);
  EXPECT_TRUE(file["movielist"].toArray().isEmpty());
}

TEST_F(Editors, RemovingAPlaylistAsksNamingItsSchedulesAndClearsTheirTasks) {
  lobby_played_by_week();
  ASSERT_TRUE(read_published("SCHEDULE_ID_1.SAV")["movielist"].toArray()[0].toObject().contains("playlist_files"));

  playlists().select_list_indices({0});
  dialogs_.shown.clear();
  playlists_->remove_selected();  // the default answer keeps it
  ASSERT_EQ(playlists().size(), 1);
  ASSERT_EQ(dialogs_.alert_messages(), QStringList{"Remove the playlist \"Lobby\"?"});
  EXPECT_TRUE(dialogs_.shown.back().detail.contains("\"Week\""));
  EXPECT_EQ(dialogs_.shown.back().items.first(), "Cancel");

  dialogs_.alert_answers.push_back(1);
  playlists_->remove_selected();
  EXPECT_TRUE(playlists().empty());
  EXPECT_EQ(to_record_array(schedules().at(0)["tasklist"].toList())[0]["list"], -1);
  EXPECT_EQ(tasks().at(0)["list"], -1);
  EXPECT_EQ(Schedule_Play_list_name(bus_).transformedValue(tasks().at(0)["list"]), "---");
  EXPECT_FALSE(read_published("SCHEDULE_ID_1.SAV")["movielist"].toArray()[0].toObject().contains("playlist_files"));

  // A new playlist under the freed id is not played by the old task.
  new_playlist("Other");
  EXPECT_EQ(playlists().at(0)["id"], 1);
  EXPECT_EQ(tasks().at(0)["list"], -1);
}

TEST_F(Editors, EditingAPlaylistRepublishesTheSchedulesThatEmbedIt) {
  lobby_played_by_week(true);  // "active" as another writer stores it
  auto embedded = [&] {
    wait_for_writes();
    return read_published("SCHEDULE_ID_1.SAV")["movielist"].toArray()[0].toObject()["playlist_files"].toArray().size();
  };
  EXPECT_EQ(embedded(), 1) << "a boolean true is active";

  playlists().select_list_indices({0});
  select_content({1, 2});
  editor_->ADD_FILE_TO_LIST();
  EXPECT_EQ(embedded(), 3);
  editor_->DELETE_MOVIE();
  EXPECT_EQ(embedded(), 2);
}

TEST_F(Editors, StartPublishesWhatIsMissingOrStaleAndLeavesTheRestUntouched) {
  new_playlist("A");
  select_content({0});
  editor_->ADD_FILE_TO_LIST();
  new_playlist("B");
  select_content({1});
  editor_->ADD_FILE_TO_LIST();
  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  bus_.post(note::SAVE);
  test::spin_for(50);
  const QByteArray right = file_bytes(published("PLAYLIST_ID_1.SAV"));
  QFile::remove(published("PLAYLIST_ID_2.SAV"));
  QFile::remove(published("SCHEDULE_ID_1.SAV"));
  const QDateTime old_time = QDateTime::currentDateTime().addSecs(-3600);
  {
    QFile f(published("PLAYLIST_ID_1.SAV"));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(old_time, QFileDevice::FileModificationTime));
  }

  // Quit and start again on the same home.
  const QString saved_home = home();
  playlists_.reset();
  editor_.reset();
  files_.reset();
  schedule_view_.reset();
  schedule_.reset();
  build();
  bus_.post(note::LOAD);
  ASSERT_TRUE(test::spin_until([&] {
    return QFile::exists(published("PLAYLIST_ID_2.SAV")) && QFile::exists(published("SCHEDULE_ID_1.SAV"));
  }));
  test::spin_for(100);
  EXPECT_EQ(file_bytes(published("PLAYLIST_ID_1.SAV")), right);
  EXPECT_EQ(QFileInfo(published("PLAYLIST_ID_1.SAV")).lastModified().toSecsSinceEpoch(), old_time.toSecsSinceEpoch())
      << "a file that is right is not rewritten";
  EXPECT_EQ(read_published("PLAYLIST_ID_2.SAV")["name"].toString(), "B");
}

TEST_F(Editors, TaskSelectionDoesNotCarryAcrossSchedules) {
  for (const char* name : {"One", "Two"}) {
    dialogs_.prompt_answers.push_back(QString(name));
    schedule_->add_new_playlist();
    for (const char* task : {"a", "b"}) {
      dialogs_.prompt_answers.push_back(QString(name) + task);
      schedule_view_->add_line();
    }
  }
  const int one = schedules().at(0)["name"] == "One" ? 0 : 1;
  schedules().select_list_indices({one});
  tasks().select_list_indices({1});
  schedules().select_list_indices({1 - one});
  EXPECT_TRUE(tasks().selected_list_indices().isEmpty());
  dialogs_.shown.clear();
  schedule_view_->delete_line();
  EXPECT_TRUE(dialogs_.shown.empty());
  EXPECT_EQ(tasks().size(), 2);
}

TEST_F(Editors, ContentIsAddedInShownOrderAndARenameKeepsTheCurrentItem) {
  new_playlist("Lobby");
  content().set_sort_key("file_name");  // Clip, Lobby Loop, Logo
  content().select_rows({0, 1, 2});
  editor_->ADD_FILE_TO_LIST();
  QStringList names;
  for (const Record& r : items().records()) names << r["file_name"].toString();
  EXPECT_EQ(names, (QStringList{"Clip", "Lobby Loop", "Logo"}));

  items().select_list_indices({1});
  dialogs_.prompt_answers.push_back(QString("Renamed"));
  playlists_->changeName();
  EXPECT_EQ(items().selected_list_indices(), QList<int>{1});
}

TEST_F(Editors, ADamagedCatalogueIsShownOnce) {
  QFile f(documents_folder() + "/" + kPlaylistFile);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("bplist00 damaged");
  f.close();
  dialogs_.shown.clear();
  playlists_->load();
  ASSERT_EQ(dialogs_.alert_messages(), QStringList{"The saved playlists could not be read completely."});
  EXPECT_TRUE(dialogs_.shown.back().detail.contains(".damaged-"));
  bus_.post(note::SAVE);
  QFile again(documents_folder() + "/" + kPlaylistFile);
  ASSERT_TRUE(again.open(QIODevice::ReadOnly));
  EXPECT_EQ(again.readAll(), "bplist00 damaged") << "no empty catalogue over a file that failed to load";
}

TEST_F(Editors, SaveAllWritesTheSameBytesAsEachEditorInTurn) {
  // Playlists with moved, replaced and image items, an empty one, and
  // schedules with active, inactive and dangling tasks.
  new_playlist("Zeta");
  select_content({2, 0, 1});
  editor_->ADD_FILE_TO_LIST();
  items().select_list_indices({2});
  editor_->MOVE_UP();
  new_playlist("Alpha");
  select_content({1});
  editor_->ADD_FILE_TO_LIST();
  new_playlist("Empty");
  for (const char* name : {"Week", "Weekend"}) {
    dialogs_.prompt_answers.push_back(QString(name));
    schedule_->add_new_playlist();
    for (int list : {1, 2, 3, 9}) {
      dialogs_.prompt_answers.push_back(QString("task %1").arg(list));
      schedule_view_->add_line();
      tasks().set_value(tasks().size() - 1, "list", list);
    }
    tasks().set_value(0, "active", 0);
    schedule_view_->task_count_change();
  }
  auto files = [&] {
    wait_for_writes();
    QMap<QString, QByteArray> out;
    for (const QString& f : QDir(folder_).entryList({"*.SAV"}, QDir::Files, QDir::Name)) out[f] = file_bytes(published(f));
    return out;
  };
  auto clear = [&] {
    for (const QString& f : QDir(folder_).entryList({"*.SAV"})) QFile::remove(published(f));
  };

  // The editors, one selection at a time.
  clear();
  for (RecordList* list : {&playlists(), &schedules()}) {
    list->clear_selection();
    for (int i = 0; i < list->size(); ++i) list->select_list_indices({i});
  }
  const QMap<QString, QByteArray> one_by_one = files();
  ASSERT_EQ(one_by_one.size(), 5);

  clear();
  bus_.post(note::SAVE_ALL_LISTS);
  EXPECT_EQ(files(), one_by_one);
}

TEST_F(Editors, ASendLeavesOnlyWithItsFileWrittenEvenWithASlowWriter) {
  lobby_played_by_week();
  wait_for_writes();

  BackgroundWriter::instance().set_delay_for_tests(300);
  playlists().select_list_indices({0});
  select_content({1, 2});
  editor_->ADD_FILE_TO_LIST();  // the schedule's republication waits on the slow writer
  int embedded_at_send = -1;
  bus_.register_observer(&embedded_at_send, note::SEND_PLAYLIST, [&](const QVariant&) {
    const QJsonObject file = read_published("SCHEDULE_ID_1.SAV");
    embedded_at_send = file["movielist"].toArray()[0].toObject()["playlist_files"].toArray().size();
  });
  schedules().select_list_indices({0});
  schedule_view_->send_to_device();
  bus_.unregister(&embedded_at_send);
  BackgroundWriter::instance().set_delay_for_tests(0);
  EXPECT_EQ(embedded_at_send, 3);
  wait_for_writes();
  EXPECT_EQ(read_published("SCHEDULE_ID_1.SAV")["movielist"].toArray()[0].toObject()["playlist_files"].toArray().size(), 3)
      << "the older queued state never lands after the send";
}

TEST_F(Editors, DeletionsComeBackWithUndoInTheirPlacesAndTheirFilesWithTheSameBytes) {
  undo_history().clear();
  lobby_played_by_week();
  select_content({1});
  editor_->ADD_FILE_TO_LIST();  // Lobby holds two items
  dialogs_.prompt_answers.push_back(QString("Evening"));
  schedule_view_->add_line();  // and Week two tasks
  ASSERT_EQ(tasks().size(), 2);
  test::spin_for(50);
  wait_for_writes();
  const QString playlist_file = playlist_file_name(1), schedule_file = schedule_file_name(1);
  auto bytes_of = [&](const QString& name) {
    test::spin_for(50);
    wait_for_writes();
    QFile f(published(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  const QByteArray playlist_before = bytes_of(playlist_file), schedule_before = bytes_of(schedule_file);
  ASSERT_FALSE(playlist_before.isEmpty());
  ASSERT_FALSE(schedule_before.isEmpty());

  // An item: back at its place.
  const Record first_item = items().at(0);
  items().select_list_indices({0});
  editor_->DELETE_MOVIE();
  ASSERT_EQ(items().size(), 1);
  undo_history().undo();
  ASSERT_EQ(items().size(), 2);
  EXPECT_EQ(items().at(0).value("file_name"), first_item.value("file_name"));
  EXPECT_EQ(bytes_of(playlist_file), playlist_before);

  // A task, then its schedule: undone newest first.
  tasks().select_list_indices({0});
  dialogs_.alert_answers.push_back(1);
  schedule_view_->delete_line();
  ASSERT_EQ(tasks().size(), 1);
  schedules().select_list_indices({0});
  dialogs_.alert_answers.push_back(1);
  schedule_->delete_line();
  ASSERT_TRUE(schedules().empty());
  EXPECT_FALSE(QFile::exists(published(schedule_file)));
  undo_history().undo();
  ASSERT_EQ(schedules().size(), 1);
  EXPECT_EQ(schedules().at(0).value("id"), 1);
  EXPECT_EQ(tasks().size(), 1) << "the task is still deleted";
  undo_history().undo();
  ASSERT_EQ(tasks().size(), 2);
  EXPECT_EQ(tasks().at(0).value("name"), "Morning");
  EXPECT_EQ(tasks().at(0).value("list"), 1);
  EXPECT_EQ(bytes_of(schedule_file), schedule_before);

  // A playlist a task plays: the playlist, the task's link and both files come back.
  playlists().select_list_indices({0});
  dialogs_.alert_answers.push_back(1);
  playlists_->remove_selected();
  ASSERT_TRUE(playlists().empty());
  ASSERT_EQ(tasks().at(0).value("list"), -1);
  undo_history().undo();
  ASSERT_EQ(playlists().size(), 1);
  EXPECT_EQ(playlists().at(0).value("id"), 1);
  EXPECT_EQ(tasks().at(0).value("list"), 1);
  EXPECT_EQ(bytes_of(playlist_file), playlist_before);
  EXPECT_EQ(bytes_of(schedule_file), schedule_before);
  EXPECT_EQ(undo_history().count(), 0) << "what was put back leaves the history";

  // A removed playlist whose id was taken again stays removed.
  playlists().select_list_indices({0});
  dialogs_.alert_answers.push_back(1);
  playlists_->remove_selected();
  new_playlist("Other");
  ASSERT_EQ(playlists().at(0).value("id"), 1);
  undo_history().undo();
  ASSERT_EQ(playlists().size(), 1);
  EXPECT_EQ(playlists().at(0).value("name"), "Other");
}

TEST_F(Editors, AListWithMissingMediaAsksBeforeItIsSentNamingThem) {
  lobby_played_by_week(true);
  playlists().select_list_indices({0});
  schedules().select_list_indices({0});
  QFile::remove(folder_ + "/Lobby Loop.mov");
  dialogs_.shown.clear();
  editor_->send_to_device();  // "Cancel", the default
  schedule_view_->send_to_device();
  EXPECT_TRUE(sent_.isEmpty());
  ASSERT_EQ(dialogs_.alert_messages(), (QStringList{"1 of the files of \"Lobby\" are missing.",
                                                     "1 of the files of \"Week\" are missing."}));
  EXPECT_TRUE(dialogs_.shown[0].detail.contains("Lobby Loop.mov"));
  EXPECT_EQ(dialogs_.shown[0].items, (QStringList{"Cancel", "Send anyway"}));
  EXPECT_EQ(dialogs_.shown[0].default_button, 0);
  dialogs_.alert_answers = {1, 1};
  editor_->send_to_device();
  schedule_view_->send_to_device();
  EXPECT_EQ(sent_.size(), 2);
}

// The first day after an item's last date, the new-day republication
// leaves it out of the playlist file and of the schedule that embeds it,
// and moves the schedule's compiled horizon on.
TEST_F(Editors, ANewDayRepublishesWhatTheDatesChange) {
  fix_local_today(QDate(2026, 12, 11));  // a Friday
  new_playlist("Lobby");
  ASSERT_TRUE(editor_->set_items(1, {{"Lobby Loop.mov", 0, {}, {}}, {"Logo.png", 5, {}, "2026-12-11"}}).ok());
  dialogs_.prompt_answers.push_back(QString("Week"));
  schedule_->add_new_playlist();
  Schedule_View::TaskSpec breakfast{"Breakfast", "2026-12-11", "07:00", true, false, true, 1, "Mon Tue Wed Thu Fri", {}, {}, {}};
  ASSERT_TRUE(schedule_view_->set_tasks(1, {breakfast}).ok());
  auto files_in = [&](const QJsonArray& items) {
    QStringList names;
    for (const QJsonValue& v : items) names << v.toObject()["file_name"].toString();
    return names;
  };
  const QJsonObject friday = read_published("PLAYLIST_ID_1.SAV");
  if (friday.isEmpty()) GTEST_SKIP() << "python3 not installed";
  EXPECT_EQ(files_in(friday["movielist"].toArray()), (QStringList{"Lobby Loop", "Logo"}));
  EXPECT_FALSE(friday["movielist"].toArray()[1].toObject().contains("last_date"));
  QJsonObject week = read_published("SCHEDULE_ID_1.SAV");
  EXPECT_EQ(week["movielist"].toArray()[0].toObject()["date"].toString(), "2026-12-11");
  EXPECT_EQ(files_in(week["movielist"].toArray()[0].toObject()["playlist_files"].toArray()).size(), 2);
  EXPECT_EQ(files_in(week["movielist"].toArray()[1].toObject()["playlist_files"].toArray()).size(), 1) << "Monday's";

  fix_local_today(QDate(2026, 12, 14));
  schedule_view_->new_day();
  EXPECT_EQ(files_in(read_published("PLAYLIST_ID_1.SAV")["movielist"].toArray()), (QStringList{"Lobby Loop"}));
  week = read_published("SCHEDULE_ID_1.SAV");
  EXPECT_EQ(week["movielist"].toArray()[0].toObject()["date"].toString(), "2026-12-14");
  EXPECT_EQ(week["tasks"].toInt(), 20);  // four weeks of weekdays
  fix_local_today({});
}
