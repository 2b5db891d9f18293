#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "core/artwork.h"
#include "content/content_item.h"
#include "content/file_list.h"
#include "content/folder_scan.h"
#include "core/bus.h"
#include "core/folders.h"
#include "core/notifications.h"
#include "support/pictures.h"
#include "support/event_loop.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"
#include "content/media_decoder.h"
#include <atomic>
#include <thread>

using namespace tavri;

namespace {

// Media made once per run with the ffmpeg command.
class Media {
 public:
  static Media& get() {
    static Media media;
    return media;
  }
  bool available() const { return ok_; }
  QString path(const QString& name) const { return dir_.path() + "/" + name; }

 private:
  Media() {
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty()) return;
    auto run = [&](const QStringList& args) {
      QProcess p;
      p.start(ffmpeg, QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
      return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    ok_ = run({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=frequency=440",
               "-t", "2", "-c:v", "mpeg4", "-b:v", "400k", "-c:a", "aac", "-shortest", path("both.mp4")}) &&
          run({"-f", "lavfi", "-i", "sine=frequency=440", "-t", "1", "-c:a", "aac", path("sound.mp4")}) &&
          run({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=30", "-t", "1", "-c:v", "mpeg4", path("silent.mov")});
    QFile corrupt(path("corrupt.mov"));
    corrupt.open(QIODevice::WriteOnly);
    corrupt.write(QByteArray(4096, '\x5a'));
    corrupt.close();
    QImage wide(1920, 1080, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    wide.save(path("wide.png"));
    QImage tall(1080, 1920, QImage::Format_RGB32);
    tall.fill(Qt::red);
    tall.save(path("tall.jpg"));
  }
  QTemporaryDir dir_;
  bool ok_ = false;
};

#define REQUIRE_MEDIA() \
  if (!Media::get().available()) GTEST_SKIP() << "ffmpeg is not installed"

QUrl media_url(const QString& name) { return QUrl::fromLocalFile(Media::get().path(name)); }

void write_file(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

Record playlist(int id, const QString& name, const RecordArray& items) {
  Record p{{"id", id}, {"name", name}};
  store_movielist(p, items);
  return p;
}

}  // namespace

TEST(ContentItem, MovieKeysFromTheDecoder) {
  REQUIRE_MEDIA();
  auto item = movie_item(media_url("both.mp4"));
  ASSERT_TRUE(item);
  Record& r = *item;
  EXPECT_EQ(r["is_img"], false);
  EXPECT_EQ(r["file_name"], "both");
  EXPECT_EQ(r["file_found"].typeId(), QMetaType::Int);
  EXPECT_EQ(r["file_found"], 1);
  EXPECT_EQ(r["file_fps"], "25.00");
  EXPECT_EQ(r["file_length"].typeId(), QMetaType::Double);
  EXPECT_NEAR(r["file_length"].toDouble(), 2.0, 0.1);
  EXPECT_EQ(r["file_kind"], "MPEG-4 movie");
  EXPECT_EQ(r["file_tracks"], 2);
  EXPECT_EQ(r["file_resolution"], "320 x 240");
  EXPECT_EQ(r["file_codec"], "MPEG-4 Video");
  EXPECT_GT(r["file_bitrate"].toLongLong(), 0);
  struct stat st {};
  ::stat(QFile::encodeName(Media::get().path("both.mp4")).constData(), &st);
  EXPECT_EQ(r["file_id"].toLongLong(), static_cast<qint64>(st.st_ino));
  EXPECT_EQ(r["file_size"], QString::asprintf("%0.2f MB", static_cast<float>(st.st_size) / 1000000.0f));
  EXPECT_EQ(r["file_change"].toString().size(), 16);  // yyyy-MM-dd HH:mm
  EXPECT_EQ(r["file_url"].toUrl(), media_url("both.mp4"));
  // The first frame fitted into 300 x 300: 4:3 leaves bands above and below.
  QImage icon = test::decoded(r["file_icon"]);
  EXPECT_EQ(icon.size(), QSize(300, 300));
  EXPECT_EQ(qAlpha(icon.pixel(150, 10)), 0);
  EXPECT_EQ(qAlpha(icon.pixel(150, 150)), 255);

  auto sound = movie_item(media_url("sound.mp4"));
  ASSERT_TRUE(sound);
  EXPECT_EQ((*sound)["file_fps"], "0.00");
  EXPECT_EQ((*sound)["file_tracks"], 1);
  EXPECT_EQ((*sound)["file_resolution"], "0 x 0");
  EXPECT_EQ((*sound)["file_codec"], "AAC");
  EXPECT_FALSE(sound->contains("file_bitrate"));
  EXPECT_EQ((*sound)["file_icon"].value<PngImage>(), artwork("tavri_icon_fragezeichen.png"));

  auto silent = movie_item(media_url("silent.mov"));
  ASSERT_TRUE(silent);
  EXPECT_EQ((*silent)["file_fps"], "30.00");
  EXPECT_EQ((*silent)["file_tracks"], 1);
  EXPECT_EQ((*silent)["file_kind"], "QuickTime movie");
  EXPECT_EQ((*silent)["file_resolution"], "160 x 90");

  auto corrupt = movie_item(media_url("corrupt.mov"));
  ASSERT_TRUE(corrupt);
  EXPECT_EQ((*corrupt)["file_tracks"], 0);
  EXPECT_EQ((*corrupt)["file_resolution"], "0 x 0");
  EXPECT_EQ((*corrupt)["file_codec"], "UNKNOWN");
  EXPECT_EQ((*corrupt)["file_fps"], "0.00");
  for (const char* k : {"file_length", "file_kind", "file_bitrate"}) EXPECT_FALSE(corrupt->contains(k)) << k;

  EXPECT_FALSE(movie_item(media_url("gone.mov")));
}

TEST(ContentItem, ImagesStreamsAndThumbnailGeometry) {
  REQUIRE_MEDIA();
  auto wide = image_item(media_url("wide.png"));
  ASSERT_TRUE(wide);
  EXPECT_EQ((*wide)["is_img"], true);
  EXPECT_EQ((*wide)["file_length"], "5");
  EXPECT_EQ((*wide)["file_fps"], "--");
  EXPECT_EQ((*wide)["file_kind"], "PNG image");
  EXPECT_EQ((*wide)["file_tracks"], 0);
  EXPECT_EQ((*wide)["file_resolution"], "1920 x 1080");
  EXPECT_EQ((*wide)["file_codec"], "UNKNOWN");
  // 300 x 168.75, centred: clear above 65.625 and below 234.375.
  QImage icon = test::decoded((*wide)["file_icon"]);
  EXPECT_EQ(icon.size(), QSize(300, 300));
  EXPECT_EQ(qAlpha(icon.pixel(150, 64)), 0);
  EXPECT_EQ(qAlpha(icon.pixel(150, 67)), 255);
  EXPECT_EQ(qAlpha(icon.pixel(150, 233)), 255);
  EXPECT_EQ(qAlpha(icon.pixel(150, 236)), 0);
  EXPECT_EQ(qAlpha(icon.pixel(0, 150)), 255);

  auto tall = image_item(media_url("tall.jpg"));
  ASSERT_TRUE(tall);
  EXPECT_EQ((*tall)["file_kind"], "JPEG image");
  icon = test::decoded((*tall)["file_icon"]);
  EXPECT_EQ(qAlpha(icon.pixel(64, 150)), 0);
  EXPECT_EQ(qAlpha(icon.pixel(67, 150)), 255);
  EXPECT_EQ(qAlpha(icon.pixel(236, 150)), 0);

  auto broken = image_item(media_url("corrupt.mov"));
  ASSERT_TRUE(broken);
  EXPECT_EQ((*broken)["file_icon"].value<PngImage>(), artwork("tavri_icon_file"));
  EXPECT_FALSE(broken->contains("file_kind"));

  QTemporaryDir dir;
  write_file(dir.path() + "/Radio.stream", "http://example.invalid/radio");
  auto stream = stream_item(QUrl::fromLocalFile(dir.path() + "/Radio.stream"));
  ASSERT_TRUE(stream);
  EXPECT_EQ((*stream)["file_size"], "NONE");
  EXPECT_EQ((*stream)["file_fps"], "--");
  for (const char* k : {"file_length", "file_kind", "file_resolution", "file_bitrate", "file_codec"})
    EXPECT_EQ((*stream)[k], "STREAM") << k;
  EXPECT_EQ((*stream)["file_tracks"], 0);
}

TEST(ContentItem, NamesKindsAndConverters) {
  EXPECT_EQ(content_file_name("/x/Lobby Loop.mov"), "Lobby Loop");
  EXPECT_EQ(content_file_name("/x/Set%41.mov"), "SetA");
  EXPECT_EQ(content_file_name("/x/100% sure.mov"), "100% sure");
  EXPECT_EQ(content_file_name("/x/a.b.mov"), "a.b");
  for (const char* name : {"holiday.JPG", "holiday.jpg", "holiday.Jpg", "a.png"})
    EXPECT_EQ(content_kind_of(name), ContentKind::image) << name;
  for (const char* name : {"CLIP.MOV", "Clip.Mp4", "x.m4v"}) EXPECT_EQ(content_kind_of(name), ContentKind::movie);
  EXPECT_EQ(content_kind_of("Radio.Stream"), ContentKind::stream);
  for (const char* name : {"holiday.jpeg", "playlist.m3u8", "notes", "notes.txt"})
    EXPECT_EQ(content_kind_of(name), ContentKind::none) << name;

  EXPECT_EQ(length_in_timecode(3725.9), "01:02:05");
  EXPECT_EQ(length_in_timecode("5"), "00:00:05");
  EXPECT_EQ(length_in_timecode("STREAM"), "00:00:00");
  EXPECT_EQ(length_in_timecode(360000), "100:00:00");
  EXPECT_EQ(length_in_timecode(QVariant()), "--:--:--");
}

namespace {

class FileListTest : public test::TestHome {
 protected:
  void SetUp() override {
    TestHome::SetUp();
    folder_ = home() + "/content";
    QDir().mkpath(folder_);
    files_ = std::make_unique<FileList>(bus_, dialogs_);
    files_->set_playlists(&playlists_);
    bus_.register_observer(this, note::SET_SERVER_PATH, [this](const QVariant& v) { server_paths_ << v.toString(); });
    bus_.register_observer(this, note::PLAYLIST_DID_CHANGE, [this](const QVariant&) { ++playlist_changes_; });
  }
  void TearDown() override {
    files_.reset();
    TestHome::TearDown();
  }
  void choose_folder() {
    dialogs_.open_answers.push_back(QStringList{folder_});
    files_->press_select();
    scanned();
    dialogs_.shown.clear();
  }
  // The scan runs in the background; its list replaces the old one when done.
  void scanned() { ASSERT_TRUE(test::spin_until([&] { return !files_->scanning(); }, 20000)); }
  QStringList content_names() {
    QStringList names;
    for (const Record& r : files_->ArrayController_FILELIST().records()) names << r["file_name"].toString();
    return names;
  }
  QUrl url(const QString& name) { return QUrl::fromLocalFile(folder_ + "/" + name); }
  Record content(const QString& name) {
    for (const Record& r : files_->ArrayController_FILELIST().records())
      if (r["file_name"] == name) return r;
    return {};
  }

  Bus bus_;
  test::ScriptedDialogs dialogs_;
  RecordList playlists_;
  std::unique_ptr<FileList> files_;
  QString folder_;
  QStringList server_paths_;
  int playlist_changes_ = 0;
};

}  // namespace

TEST_F(FileListTest, ScanOrderAcrossThePassesAndTheFolderChoice) {
  for (const char* name : {"b.mov", "a.png", "c.stream", "d.mp4", "notes.txt", "e.PNG", ".hidden.mov"})
    write_file(folder_ + "/" + name, "x");
  choose_folder();
  EXPECT_EQ(server_paths_, QStringList{folder_});
  EXPECT_EQ(files_->select_label_path(), "content");
  EXPECT_TRUE(log().contains("CHECK FILE: notes.txt"));

  const QStringList listed = list_folder(folder_);
  QStringList expected;
  for (ContentKind pass : {ContentKind::movie, ContentKind::image, ContentKind::stream})
    for (const QString& name : listed)
      if (content_kind_of(name) == pass) expected << content_file_name(name);
  EXPECT_EQ(content_names(), expected);
  ASSERT_EQ(expected.size(), 6);
  EXPECT_EQ(QSet<QString>(expected.begin(), expected.begin() + 3), QSet<QString>({"b", "d", ".hidden"}));
  EXPECT_EQ(QSet<QString>(expected.begin() + 3, expected.begin() + 5), QSet<QString>({"a", "e"}));
  EXPECT_EQ(expected.last(), "c");

  // The same result whatever the number of worker threads.
  for (int threads : {1, 3}) {
    const RecordArray built = build_content_items(files_->folder_url(), listed, threads);
    QStringList names;
    for (const Record& r : built) names << r["file_name"].toString();
    EXPECT_EQ(names, expected) << threads;
  }

  // Saved as the URL's escaped text, loaded back by a new controller.
  files_->save();
  FileList again(bus_, dialogs_);
  server_paths_.clear();
  again.applicationDidFinishLaunching();
  EXPECT_EQ(server_paths_, QStringList{folder_});
  EXPECT_TRUE(again.ArrayController_FILELIST().empty());
  EXPECT_TRUE(test::spin_until([&] { return again.ArrayController_FILELIST().size() == 6; }));
}

TEST_F(FileListTest, FolderLabels) {
  EXPECT_EQ(files_->select_label_path(), "ANY FOLDER SELECTED");
  EXPECT_EQ(folder_label_for(QUrl::fromLocalFile("/Users/op/My Content/")), "My Content");
  EXPECT_EQ(folder_label_for(QUrl::fromLocalFile("/Users/op/100%done/")), "100%25done");
}

TEST_F(FileListTest, RelinkByNameKeepsDisplayTimesAndReportsMissingFiles) {
  write_file(folder_ + "/clip.mov", "x");
  write_file(folder_ + "/pic.png", "x");
  write_file(folder_ + "/intro.mov", "x");
  write_file(folder_ + "/intro.png", "x");
  choose_folder();
  Record old_pic{{"file_name", "pic"}, {"is_img", true}, {"file_length", "5"}, {"file_url", QUrl("file:///old/pic.png")}};
  Record pic10 = old_pic;
  pic10["file_length"] = 10;
  Record clip{{"file_name", "clip"}, {"is_img", false}, {"file_url", QUrl("file:///old/clip.mov")}};
  Record intro{{"file_name", "intro"}, {"file_url", QUrl("file:///old/intro.mov")}};
  Record gone{{"file_name", "gone"}, {"file_url", QUrl("file:///old/gone.mov")}};
  playlists_.append(playlist(1, "Lobby", {old_pic, clip, pic10, gone}));
  playlists_.append(playlist(2, "Foyer", {intro, gone}));
  playlists_.append(playlist(3, "Bar", {gone}));

  dialogs_.alert_answers.push_back(0);  // Ignore
  files_->relink_files();
  RecordArray lobby = decode_movielist(playlists_.at(0));
  ASSERT_EQ(lobby.size(), 4);
  EXPECT_EQ(lobby[0]["file_url"].toUrl(), url("pic.png"));
  EXPECT_EQ(lobby[0]["file_found"], 1);
  EXPECT_EQ(lobby[0]["file_length"], 5);
  EXPECT_EQ(lobby[2]["file_length"], 10);
  EXPECT_EQ(lobby[1]["file_url"].toUrl(), url("clip.mov"));
  EXPECT_EQ(lobby[3]["file_found"], 0);
  EXPECT_EQ(content("pic")["file_length"], "5");  // the content list's own item is unchanged
  RecordArray foyer = decode_movielist(playlists_.at(1));
  EXPECT_EQ(foyer[0]["file_found"], 0);  // two files are named intro
  ASSERT_EQ(dialogs_.alert_messages(), QStringList{"Missing movie files!"});
  EXPECT_EQ(dialogs_.shown.back().detail, "\ngone\nintro\n\nWhat do you want to do?");
  EXPECT_EQ(dialogs_.shown.back().items, (QStringList{"Ignore", "Unlink"}));

  // Ignored once, the same files are not asked about again in this folder.
  files_->relink_files();
  EXPECT_EQ(dialogs_.alert_messages().size(), 1);

  choose_folder();  // a folder chosen again asks again
  dialogs_.alert_answers.push_back(1);  // Unlink
  files_->relink_files();
  EXPECT_EQ(dialogs_.alert_messages(), QStringList{"Missing movie files!"});
  EXPECT_EQ(decode_movielist(playlists_.at(0)).size(), 3);
  EXPECT_EQ(playlists_.at(0)["movies"], 3);
  EXPECT_EQ(decode_movielist(playlists_.at(1)).size(), 0);
  EXPECT_EQ(decode_movielist(playlists_.at(2)).size(), 0);
  EXPECT_GE(playlist_changes_, 3);
}

TEST_F(FileListTest, DeleteUnlinkAndLinksWithAFileHeldTwice) {
  for (const char* name : {"a.mov", "b.mov", "c.mov", "keep.mov"}) write_file(folder_ + "/" + name, "x");
  choose_folder();
  const Record b = content("b");
  playlists_.append(playlist(1, "Lobby", {b, content("keep"), b}));
  playlists_.append(playlist(2, "Foyer", {b}));
  playlists_.append(playlist(3, "Foyer", {b}));  // a copy keeps its source's name

  EXPECT_TRUE(files_->find_file_in_playlists(url("b.mov")));
  EXPECT_FALSE(files_->find_file_in_playlists(url("c.mov")));
  EXPECT_EQ(files_->getlinksforfile(url("b.mov")), (QStringList{"Lobby (id 1)", "Foyer (id 2)", "Foyer (id 3)"}));

  auto select = [&](const QStringList& names) {
    QList<int> indices;
    for (int i = 0; i < files_->ArrayController_FILELIST().size(); ++i)
      if (names.contains(files_->ArrayController_FILELIST().at(i)["file_name"].toString())) indices << i;
    files_->ArrayController_FILELIST().select_list_indices(indices);
  };
  select({"b"});
  files_->get_links();
  select({"c"});
  files_->get_links();
  ASSERT_EQ(dialogs_.shown.size(), 2u);
  EXPECT_EQ(dialogs_.shown[0].message, "Links:");
  EXPECT_EQ(dialogs_.shown[0].detail, "b\n\nPLAYLISTS:\n\nLobby (id 1)\nFoyer (id 2)\nFoyer (id 3)");
  EXPECT_EQ(dialogs_.shown[1].detail, "c\n\nPLAYLISTS:\n\nno links");

  // Three selected, only b linked: "Cancel" keeps b alone.
  dialogs_.shown.clear();
  select({"a", "b", "c"});
  dialogs_.alert_answers.push_back(2);
  files_->delete_File();
  scanned();
  EXPECT_EQ(dialogs_.alert_messages(), QStringList{"b\n\nThis file is linked in playlists."});
  EXPECT_EQ(dialogs_.shown[0].items, (QStringList{"Only Delete", "Delete + Unlink", "Cancel"}));
  EXPECT_EQ(dialogs_.shown[0].default_button, 2) << "Return keeps the file";
  const QStringList left = content_names();
  EXPECT_EQ(QSet<QString>(left.begin(), left.end()), QSet<QString>({"b", "keep"}));

  // "Delete + Unlink" removes both items of Lobby.
  select({"b"});
  dialogs_.alert_answers.push_back(1);
  files_->delete_File();
  EXPECT_FALSE(QFile::exists(folder_ + "/b.mov"));
  EXPECT_EQ(playlists_.at(0)["movies"], 1);
  EXPECT_EQ(decode_movielist(playlists_.at(0)).first()["file_name"], "keep");
  EXPECT_EQ(playlists_.at(1)["movies"], 0);
  EXPECT_TRUE(test::spin_until([&] { return log().contains("Im on the main thread"); }));
}

TEST_F(FileListTest, ReplaceAnImageHeldTwiceByAMovie) {
  REQUIRE_MEDIA();
  write_file(folder_ + "/pic.png", "x");
  choose_folder();
  const Record pic = content("pic");
  playlists_.append(playlist(1, "Lobby", {pic, pic}));
  files_->ArrayController_FILELIST().select_rows({0});
  dialogs_.open_answers.push_back(QStringList{Media::get().path("silent.mov")});
  dialogs_.alert_answers.push_back(0);  // the relink after the copy finds nothing missing
  files_->replace_file();
  EXPECT_TRUE(QFile::exists(folder_ + "/pic.png")) << "the old file stays until the copy is complete";
  ASSERT_TRUE(test::spin_until([&] { return !QFile::exists(folder_ + "/pic.png"); }));
  RecordArray items = decode_movielist(playlists_.at(0));
  ASSERT_EQ(items.size(), 2);
  for (const Record& item : items) {
    EXPECT_EQ(item["file_url"].toUrl(), url("silent.mov"));
    EXPECT_EQ(item["file_resolution"], "160 x 90");
  }
  EXPECT_FALSE(QFile::exists(folder_ + "/pic.png"));
  EXPECT_TRUE(test::spin_until([&] { return content_names() == QStringList{"silent"}; }));
  EXPECT_TRUE(files_->new_button_enabled());
  EXPECT_TRUE(files_->replace_button_enabled());
}

TEST_F(FileListTest, StreamsAndTheNoFolderAlert) {
  files_->add_File();
  EXPECT_EQ(dialogs_.alert_messages(), QStringList{"Any content folder selected"});
  choose_folder();
  dialogs_.prompt_answers = {QString("http://radio.invalid/live"), QString("Radio")};
  files_->add_stream();
  QFile stream(folder_ + "/Radio.stream");
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  EXPECT_EQ(stream.readAll(), "http://radio.invalid/live");
  EXPECT_TRUE(log().contains("NEW WEB ADDRESS: http://radio.invalid/live"));
  EXPECT_TRUE(test::spin_until([&] { return content_names() == QStringList{"Radio"}; }));
  EXPECT_EQ(dialogs_.shown[1].width, 400);
  EXPECT_EQ(dialogs_.shown[1].message, "Please enter a name:");

  // A stream that is not written says so, and nothing looks added.
  dialogs_.prompt_answers = {QString("http://radio.invalid/café"), QString("Cafe")};
  files_->add_stream();
  EXPECT_TRUE(dialogs_.alert_messages().contains("This address cannot be used for a stream."));
  EXPECT_FALSE(QFile::exists(folder_ + "/Cafe.stream"));
  ASSERT_TRUE(QDir(folder_).mkdir("Taken.stream"));  // cannot be written, even by root
  dialogs_.prompt_answers = {QString("http://radio.invalid/b"), QString("Taken")};
  files_->add_stream();
  EXPECT_TRUE(dialogs_.alert_messages().contains("The stream was not added."));
  EXPECT_TRUE(QFileInfo(folder_ + "/Taken.stream").isDir());
}

TEST_F(FileListTest, TransferProgressInKnownBlocks) {
  choose_folder();
  const QString source = home() + "/big.mov";
  write_file(source, QByteArray(10000000, 'm'));
  files_->set_transfer_options({8000, UINT64_MAX});
  std::vector<double> positions;
  QObject::connect(files_.get(), &FileList::progress_changed, [&] {
    if (files_->progress_visible()) positions.push_back(files_->progress_value());
  });
  files_->start_transfer(source);
  EXPECT_FALSE(files_->new_button_enabled());
  EXPECT_TRUE(files_->progress_visible());
  EXPECT_TRUE(log().contains("ESTIMATED FILESIZE = 10000000"));
  ASSERT_TRUE(test::spin_until([&] { return log().contains("downloadDidFinish"); }, 20000));
  EXPECT_FALSE(files_->progress_visible());
  EXPECT_TRUE(files_->new_button_enabled());
  ASSERT_GT(positions.size(), 400u);
  EXPECT_NEAR(positions[1], 0.24, 1e-4);
  EXPECT_NEAR(positions.back(), 99.84, 1e-2);
  EXPECT_EQ(positions.size(), 1u + 416u);  // the start at 0, then every third block
  EXPECT_EQ(QFileInfo(folder_ + "/big.mov").size(), 10000000);
  EXPECT_TRUE(test::spin_until([&] { return content_names() == QStringList{"big"}; }));
}

TEST_F(FileListTest, FailedTransferLeavesNoPartialFile) {
  choose_folder();
  write_file(folder_ + "/clip.mov", "old content");
  const QString source = home() + "/clip.mov";
  write_file(source, QByteArray(100000, 'n'));
  files_->set_transfer_options({10000, 50000});
  files_->start_transfer(source);
  ASSERT_TRUE(test::spin_until([&] { return log().join('\n').contains("Download failed! Error - "); }));
  EXPECT_FALSE(files_->progress_visible());
  EXPECT_TRUE(files_->new_button_enabled());
  QFile kept(folder_ + "/clip.mov");
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "old content");  // the old file is untouched
  EXPECT_EQ(QDir(folder_).entryList(QDir::Files | QDir::Hidden), QStringList{"clip.mov"});
}

// ------------------------------------------------ nothing the operator made is lost

TEST_F(FileListTest, FailedReplaceKeepsTheOldFileAndItsLinks) {
  write_file(folder_ + "/old.mov", "old movie");
  choose_folder();
  const Record old_item = content("old");
  playlists_.append(playlist(1, "Lobby", {old_item}));
  const QString source = home() + "/new.mov";
  write_file(source, QByteArray(100000, 'n'));
  files_->set_transfer_options({10000, 50000});  // the copy breaks half-way
  files_->ArrayController_FILELIST().select_rows({0});
  dialogs_.open_answers.push_back(QStringList{source});
  files_->replace_file();
  ASSERT_TRUE(test::spin_until([&] { return log().join('\n').contains("Download failed! Error - "); }));
  test::spin_for(100);
  QFile kept(folder_ + "/old.mov");
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "old movie");
  EXPECT_FALSE(QFile::exists(folder_ + "/new.mov"));
  const RecordArray items = decode_movielist(playlists_.at(0));
  ASSERT_EQ(items.size(), 1);
  EXPECT_EQ(items[0]["file_url"].toUrl(), url("old.mov"));
}

TEST_F(FileListTest, ReplaceOfAnUnlinkedFileDeletesItOnlyAfterTheCopy) {
  write_file(folder_ + "/old.mov", "old movie");
  choose_folder();
  const QString source = home() + "/other.mov";
  write_file(source, "other movie");
  files_->ArrayController_FILELIST().select_rows({0});
  dialogs_.open_answers.push_back(QStringList{source});
  files_->replace_file();
  EXPECT_TRUE(QFile::exists(folder_ + "/old.mov"));
  ASSERT_TRUE(test::spin_until([&] { return content_names() == QStringList{"other"}; }));
  EXPECT_FALSE(QFile::exists(folder_ + "/old.mov"));
}

TEST_F(FileListTest, UnreachableFolderOffersNoUnlinkIsNotServedAndIsScannedWhenItAppears) {
  write_file(folder_ + "/clip.mov", "x");
  choose_folder();
  playlists_.append(playlist(1, "Lobby", {content("clip")}));
  files_->save();
  const QString mounted = folder_ + ".away";
  ASSERT_TRUE(QDir().rename(folder_, mounted));  // the disk is not mounted yet

  Bus bus;
  test::ScriptedDialogs dialogs;
  QStringList served;
  bus.register_observer(this, note::SET_SERVER_PATH, [&](const QVariant& v) { served << v.toString(); });
  FileList again(bus, dialogs);
  again.set_playlists(&playlists_);
  again.applicationDidFinishLaunching();
  EXPECT_TRUE(served.isEmpty()) << "a missing root is not served";
  ASSERT_TRUE(test::spin_until([&] { return !dialogs.shown.empty(); }, 3000));
  EXPECT_EQ(dialogs.alert_messages(), QStringList{"content folder not reachable: " + folder_});
  test::spin_for(800);  // no relink follows, so no unlink is offered
  EXPECT_EQ(dialogs.alert_messages().size(), 1);
  EXPECT_EQ(decode_movielist(playlists_.at(0)).size(), 1);

  ASSERT_TRUE(QDir().rename(mounted, folder_));
  ASSERT_TRUE(test::spin_until([&] { return again.ArrayController_FILELIST().size() == 1; }, 5000));
  EXPECT_EQ(served, QStringList{folder_});
  EXPECT_EQ(dialogs.alert_messages().size(), 1);
  bus.unregister(this);
}

TEST_F(FileListTest, HostileFolderFilesMeanNoFolder) {
  for (const QByteArray& bytes : {QByteArray("http://example.invalid/content/"), QByteArray(1 << 20, 'a'),
                                  QByteArray("not a url at all \x01")}) {
    write_file(documents_folder() + "/" + kFolderFile, bytes);
    FileList again(bus_, dialogs_);
    again.applicationDidFinishLaunching();
    EXPECT_EQ(again.select_label_path(), "ANY FOLDER SELECTED");
    EXPECT_TRUE(again.folder_url().isEmpty());
  }
  // A long but real folder name is elided in the label.
  const QString deep = home() + "/" + QString(300, 'd');
  QDir().mkpath(deep);
  dialogs_.open_answers.push_back(QStringList{deep});
  files_->press_select();
  EXPECT_LE(files_->select_label_path().size(), 200);
}

TEST_F(FileListTest, HostileStreamNamesAreRefusedWithAReason) {
  choose_folder();
  for (const QString& name : {QString("../escaped"), QString(""), QString(".hidden"), QString("a/b"), QString("a\\b"),
                              QString("tab\there"), QString("x<v_OX_TANDEM>y")}) {
    SCOPED_TRACE(name.toStdString());
    dialogs_.shown.clear();
    dialogs_.prompt_answers = {QString("http://radio.invalid/live"), name};
    files_->add_stream();
    ASSERT_EQ(dialogs_.alert_messages(), QStringList{"This name cannot be used for a stream."});
    EXPECT_FALSE(dialogs_.shown.back().detail.isEmpty());
  }
  EXPECT_FALSE(QFile::exists(home() + "/escaped.stream"));
  EXPECT_TRUE(QDir(folder_).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(FileListTest, FifosAreNotScanned) {
  write_file(folder_ + "/clip.mov", "x");
  ASSERT_EQ(::mkfifo(QFile::encodeName(folder_ + "/pipe.mov").constData(), 0600), 0);
  choose_folder();  // would hang opening the FIFO
  EXPECT_EQ(content_names(), QStringList{"clip"});
}

TEST_F(FileListTest, SeveralCopiesGiveOneRescanAndTheButtonWaitsForTheLast) {
  choose_folder();
  QStringList sources;
  for (int i = 0; i < 3; ++i) {
    sources << home() + QString("/m%1.mov").arg(i);
    write_file(sources.last(), QByteArray(200000 * (i + 1), 'm'));
  }
  files_->set_transfer_options({1000, UINT64_MAX});
  clear_log();
  // One bar for all three: it moves forward through their bytes together.
  std::vector<double> positions;
  QObject::connect(files_.get(), &FileList::progress_changed, [&] {
    if (files_->progress_visible()) positions.push_back(files_->progress_value());
  });
  for (const QString& s : sources) files_->start_transfer(s);
  bool early = false;
  QObject::connect(files_.get(), &FileList::buttons_changed, [&] {
    if (files_->new_button_enabled() && files_->active_transfers() > 0) early = true;
  });
  ASSERT_TRUE(test::spin_until([&] { return content_names().size() == 3; }, 20000));
  test::spin_for(700);
  EXPECT_FALSE(early);
  EXPECT_TRUE(files_->new_button_enabled());
  EXPECT_EQ(log().filter("CHECK FILE:").size(), 3) << "one scan of three files";
  ASSERT_GT(positions.size(), 10u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_LE(positions.back(), 100.0);
  EXPECT_GT(positions.back(), 95.0);
}

TEST_F(FileListTest, UndecodableItemsAreKeptAndImagesRelinkedToMoviesTakeTheirLength) {
  write_file(folder_ + "/intro.mov", "x");
  choose_folder();
  Record broken{{"id", 1}, {"name", "Broken"}, {"movielist", QByteArray("not an archive")}, {"movies", 4}};
  playlists_.append(broken);
  Record image_entry{{"file_name", "intro"}, {"is_img", true}, {"file_length", "7"},
                     {"file_url", QUrl("file:///old/intro.png")}};
  playlists_.append(playlist(2, "Foyer", {image_entry}));
  files_->relink_files();
  EXPECT_EQ(playlists_.at(0), broken) << "kept as it was";
  EXPECT_FALSE(log().filter("cannot be decoded").isEmpty());
  const RecordArray foyer = decode_movielist(playlists_.at(1));
  ASSERT_EQ(foyer.size(), 1);
  EXPECT_EQ(foyer[0]["is_img"], false);
  EXPECT_NE(foyer[0]["file_length"], 7) << "the movie's own length";
  files_->unlink_file_at_url(url("intro.mov"));
  EXPECT_EQ(playlists_.at(0), broken);
}

TEST_F(FileListTest, QuitDuringACopyCancelsItAndRemovesTheTemporaryFile) {
  choose_folder();
  const QString source = home() + "/huge.mov";
  write_file(source, QByteArray(50'000'000, 'h'));
  files_->set_transfer_options({4096, UINT64_MAX});
  files_->start_transfer(source);
  ASSERT_TRUE(test::spin_until([&] { return files_->progress_value() > 0; }, 10000));
  QElapsedTimer quit;
  quit.start();
  files_.reset();
  EXPECT_LT(quit.elapsed(), 2000) << "quit does not wait for the copy";
  test::spin_for(50);
  EXPECT_TRUE(QDir(folder_).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(ContentItem, TimecodesSaturate) {
  EXPECT_EQ(length_in_timecode(QString(40, '9')), length_in_timecode(QString(30, '9')));
  EXPECT_FALSE(length_in_timecode(1e300).isEmpty());
  EXPECT_EQ(length_in_timecode(3725), "01:02:05");
}

// ------------------------------------------------ the window never waits for a scan

TEST_F(FileListTest, ScansRunInTheBackgroundAndUnchangedFilesAreNotProbedAgain) {
  for (int i = 0; i < 20; ++i) write_file(folder_ + QString("/still%1.png").arg(i), "x");
  write_file(folder_ + "/clip.mov", "x");
  dialogs_.open_answers.push_back(QStringList{folder_});
  files_->press_select();
  EXPECT_TRUE(files_->scanning()) << "press_select returns before the items are built";
  EXPECT_EQ(files_->scan_total(), 21);
  scanned();
  EXPECT_EQ(content_names().size(), 21);
  EXPECT_TRUE(log().contains("SCAN DONE: 21 items, 21 probed"));

  clear_log();
  files_->rescan_Folder();
  EXPECT_EQ(content_names().size(), 21) << "the old list stays until the new one is complete";
  scanned();
  EXPECT_TRUE(log().contains("SCAN DONE: 21 items, 0 probed"));

  // A changed file is probed again, and only that one.
  write_file(folder_ + "/clip.mov", "changed, and longer");
  clear_log();
  files_->rescan_Folder();
  scanned();
  EXPECT_TRUE(log().contains("SCAN DONE: 21 items, 1 probed"));

  // A cancelled scan leaves the list as it was and relinks nothing.
  write_file(folder_ + "/new.png", "x");
  files_->rescan_Folder();
  files_->cancel_scan();
  EXPECT_FALSE(files_->scanning());
  test::spin_for(100);
  EXPECT_EQ(content_names().size(), 21);
}

TEST_F(FileListTest, FilesDroppedIntoTheWatchedFolderAppearOnceTheyAreComplete) {
  write_file(folder_ + "/a.png", "x");
  choose_folder();
  ASSERT_EQ(content_names(), QStringList{"a"});

  // Our own published files do not ask for a rescan.
  clear_log();
  write_file(folder_ + "/PLAYLIST_ID_1.SAV", "published");
  test::spin_for(2500);
  EXPECT_TRUE(log().filter("CHECK FILE").isEmpty());

  // A file copied in by another program, written in pieces.
  QFile growing(folder_ + "/b.mov");
  ASSERT_TRUE(growing.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  clear_log();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 3000) {
    growing.write(QByteArray(1000, 'g'));
    test::spin_for(200);
  }
  EXPECT_TRUE(log().filter("CHECK FILE: b.mov").isEmpty()) << "not scanned while it still grows";
  growing.close();
  ASSERT_TRUE(test::spin_until([&] { return content_names().contains("b"); }, 8000));
  EXPECT_EQ(log().filter("CHECK FILE: b.mov").size(), 1) << "scanned once, when stable";

  QFile::remove(folder_ + "/a.png");
  EXPECT_TRUE(test::spin_until([&] { return !content_names().contains("a"); }, 8000));
}

TEST(MediaProbe, TheHelperAnswersAsTheDecoderDoesFromManyThreadsAndAFailingHelperCostsOnlyItsFile) {
  REQUIRE_MEDIA();
  const QString movie = Media::get().path("both.mp4");
  QByteArray local_frame;
  const MediaInfo local = decode_media(movie, &local_frame, 300);
  ASSERT_TRUE(local.opened);
  ASSERT_TRUE(looks_like_png(local_frame));

  std::vector<std::thread> threads;
  std::atomic<int> same{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 3; ++i) {
        QByteArray frame;
        const MediaInfo got = probe_media(movie, &frame, 300);
        const bool equal = got.opened && got.duration_seconds == local.duration_seconds && got.kind == local.kind &&
                           got.media_types == local.media_types && got.codecs == local.codecs &&
                           got.pixel_width == local.pixel_width && got.video_bit_rate == local.video_bit_rate &&
                           got.last_video_fps == local.last_video_fps && frame == local_frame;
        same += equal ? 1 : 0;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(same, 12);
  EXPECT_EQ(media_thumbnail(movie, 300), local_frame);

  // A helper that dies on every file: empty answers, a console line, no crash.
  QTemporaryDir dir;
  const QString crasher = dir.path() + "/crashing_probe";
  write_file(crasher, "#!/bin/sh\nkill -SEGV $$\n");
  QFile::setPermissions(crasher, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QStringList lines;
  set_console_listener([&](const QString& l) { lines << l; });
  set_media_probe_helper(crasher);
  QByteArray frame;
  EXPECT_FALSE(probe_media(movie, &frame, 300).opened);
  EXPECT_TRUE(frame.isEmpty());
  EXPECT_TRUE(lines.contains("media probe failed: " + movie)) << lines.join("\n").toStdString();
  set_media_probe_helper({});
  set_console_listener({});
  EXPECT_TRUE(probe_media(movie).opened);
}
