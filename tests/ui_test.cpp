#include <gtest/gtest.h>

#include <QDir>
#include <QDockWidget>
#include <cmath>
#include <QGuiApplication>
#include <QScreen>
#include <QFile>
#include <QGraphicsView>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScrollArea>
#include <QPushButton>
#include <QTimer>
#include <QDrag>
#include <QRegularExpression>
#include <QHeaderView>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTest>

#include "content/file_list.h"
#include "core/app_delegate.h"
#include "core/bus.h"
#include "core/folders.h"
#include "core/artwork.h"
#include "ui/named_images.h"
#include "core/notifications.h"
#include "players/net/wire_protocol.h"
#include "players/player_map.h"
#include "players/player_status.h"
#include "playlists/display_playlist.h"
#include "playlists/play_list.h"
#include "schedules/schedule.h"
#include "schedules/schedule_view.h"
#include "support/event_loop.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"
#include "ui/qt_dialogs.h"
#include "ui/record_table.h"
#include "ui/schedule_week_view.h"
#include "ui/tool_window_widget.h"
#include "support/udp_peer.h"
#include "ui/content_preview.h"
#include "history/history_service.h"
#include "ui/audit_window.h"
#include "ui/desk_audit.h"
#include "ui/main_window.h"
#include "ui/window_parts.h"
#include "core/movielist.h"
#include "widgets/tavri_button.h"
#include "widgets/tavri_defaults.h"
#include "widgets/tavri_splitt_view.h"
#include "widgets/tavri_table_view.h"
#include "widgets/tavri_text.h"
#include "widgets/tavri_textfield.h"

using namespace tavri;

namespace {

// The column with this title (in capitals), or -1.
int column_titled(const QAbstractItemModel* model, const QString& title) {
  for (int c = 0; c < model->columnCount(); ++c)
    if (model->headerData(c, Qt::Horizontal).toString().toUpper() == title) return c;
  return -1;
}

// True when the picture holds more than one colour.
bool not_blank(const QImage& image) {
  const QRgb first = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3)
      if (image.pixel(x, y) != first) return true;
  return false;
}

// Every controller the windows show, on loopback ports: commands go to a
// test peer, never to the network.
class Frontend : public test::TestHome {
 protected:
  void SetUp() override {
    TestHome::SetUp();
    PlayerNetworkConfig net;
    net.feedback_port = 0;
    net.command_host = "127.0.0.1";
    net.command_port = peer_.port();
    schedule_ = std::make_unique<Schedule>(bus_, dialogs_);
    schedule_view_ = std::make_unique<Schedule_View>(bus_, dialogs_);
    files_ = std::make_unique<FileList>(bus_, dialogs_);
    players_ = std::make_unique<UDP_Feedback>(bus_, dialogs_, &files_->ArrayController_FILELIST(), net);
    editor_ = std::make_unique<display_playlist>(bus_, dialogs_);
    playlists_ = std::make_unique<PlayList>(bus_, dialogs_);
    app_ = std::make_unique<AppDelegate>(bus_, dialogs_);
    files_->set_playlists(&playlists_->ArrayController_PLAYLIST());
    editor_->attach(playlists_.get(), &files_->ArrayController_FILELIST());
    schedule_view_->attach(schedule_.get(), playlists_.get(), &files_->ArrayController_FILELIST());
    playlists_->set_users(schedule_view_.get());
    window_ = std::make_unique<MainWindow>(WindowControllers{*app_, *files_, *playlists_, *editor_, *schedule_,
                                                             *schedule_view_, *players_, bus_, dialogs_});
    app_->set_windows(window_->tool_windows());
  }
  void TearDown() override {
    window_.reset();
    app_.reset();
    playlists_.reset();
    editor_.reset();
    players_.reset();
    files_.reset();
    schedule_view_.reset();
    schedule_.reset();
    TestHome::TearDown();
  }
  template <typename T = QAbstractButton>
  T* control(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(name);
    EXPECT_TRUE(found) << name;
    return found;
  }

  test::UdpPeer peer_;
  Bus bus_;
  test::ScriptedDialogs dialogs_;
  std::unique_ptr<Schedule> schedule_;
  std::unique_ptr<Schedule_View> schedule_view_;
  std::unique_ptr<FileList> files_;
  std::unique_ptr<UDP_Feedback> players_;
  std::unique_ptr<display_playlist> editor_;
  std::unique_ptr<PlayList> playlists_;
  std::unique_ptr<AppDelegate> app_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace

TEST(StyledWidgets, UpperCaseTitlesImagesAndLimits) {
  tavri_button button("play now");
  EXPECT_EQ(button.text(), "PLAY NOW");  // the stored string itself
  button.resize(60, 40);
  EXPECT_TRUE(button.button_image().isNull());  // no valid image, none after set-up
  button.set_image(named_image("Icon_play"));
  EXPECT_EQ(button.button_image().size(), QSize(52, 32));  // the frame less 8 each way
  button.set_image(QImage());
  EXPECT_TRUE(button.button_image().isNull());

  tavri_text text("lobby");
  tavri_title_text title("players");
  EXPECT_EQ(text.text(), "LOBBY");
  EXPECT_EQ(title.text(), "PLAYERS");

  // 400 points or less leave the divider no room.
  auto [low, high] = tavri_splitt_view::limits(0, 400);
  EXPECT_GE(low, high);
  std::tie(low, high) = tavri_splitt_view::limits(0, 1000);
  EXPECT_EQ(low, 200);
  EXPECT_EQ(high, 800);
  tavri_splitt_view split(Qt::Horizontal);
  split.addWidget(new QWidget);
  split.addWidget(new QWidget);
  split.resize(400, 100);
  split.show();
  const QList<int> before = split.sizes();
  split.setSizes({50, 350});
  EXPECT_EQ(split.sizes(), before);

  EXPECT_EQ(tavri_textfield::frame_rect(QRectF(0, 0, 100, 24)), QRectF(2, 2, 97, 21));
  EXPECT_EQ(middle_aligned_title_rect(QRectF(0, 0, 100, 30), 14), QRectF(0, 7.5, 100, 14));
}

TEST(MapGeometry, RebuildGrowthDragZoomAndLabels) {
  RecordList devices;
  devices.append({{"device_id", "A"}, {"device_name", "Lobby"}});
  devices.append({{"device_id", "B"}, {"device_name", "Foyer"}});
  QSizeF size = player_map::rebuild(devices, QSizeF(1500, 900), QSizeF(800, 600), QSizeF(600, 400));
  EXPECT_EQ(size, QSizeF(1500, 900));
  const MapIcon a = devices.at(0).value("ICON").value<MapIcon>();
  EXPECT_EQ(a.frame, QRectF(300, 220, 70, 50));  // lower-left corner in the grid's cell nearest the centre
  EXPECT_FALSE(devices.at(1).value("ICON").value<MapIcon>().frame.intersects(a.frame));  // beside it, never on it
  // A later burst, with the view elsewhere, lands on the same grid, name plates clear of the row above.
  devices.append({{"device_id", "C"}, {"device_name", "Hall"}});
  player_map::rebuild(devices, QSizeF(1500, 900), QSizeF(800, 600), QSizeF(777, 333));
  const QRectF c = devices.at(2).value("ICON").value<MapIcon>().frame;
  EXPECT_EQ(std::fmod(c.x(), player_map::kCellWidth), 0);
  EXPECT_EQ(std::fmod(c.y(), player_map::kCellHeight), 0);
  devices.remove_at(2);
  EXPECT_EQ(a.name, "Lobby");
  EXPECT_EQ(a.image, artwork("ICON_ONLINE"));
  // What the service saves is what the window draws.
  for (const char* name :
       {"ICON_ONLINE", "ICON_OFFLINE", "tavri_icon_send", "tavri_icon_file", "tavri_icon_fragezeichen.png"})
    EXPECT_EQ(picture_of(artwork(name)).convertToFormat(QImage::Format_ARGB32_Premultiplied), named_image(name))
        << name;

  MapIcon far = a;
  far.frame.moveLeft(2000);
  devices.set_value(0, "ICON", QVariant::fromValue(far));
  size = player_map::rebuild(devices, QSizeF(1500, 900), QSizeF(800, 600), QSizeF(600, 400));
  EXPECT_EQ(size.width(), 2040);

  // Dragging up stops at the top edge, and at every other edge too: an icon
  // never leaves the map.
  const QRectF parent(0, 0, 1500, 900);
  EXPECT_EQ(player_map::drag_origin(QPointF(100, 5000), QPointF(10, 10), QSizeF(70, 50), parent), QPointF(90, 850));
  EXPECT_EQ(player_map::drag_origin(QPointF(-300, -200), QPointF(0, 0), QSizeF(70, 50), parent), QPointF(0, 0));
  EXPECT_EQ(player_map::drag_origin(QPointF(9000, 300), QPointF(0, 0), QSizeF(70, 50), parent), QPointF(1430, 300));

  // An icon whose player has no name keeps its place across rebuilds.
  MapIcon unnamed = a;
  unnamed.name.clear();
  unnamed.frame.moveTopLeft(QPointF(123, 45));
  devices.set_value(0, "device_name", QString());
  devices.set_value(0, "ICON", QVariant::fromValue(unnamed));
  player_map::rebuild(devices, QSizeF(1500, 900), QSizeF(800, 600), QSizeF(600, 400));
  EXPECT_EQ(devices.at(0)["ICON"].value<MapIcon>().frame.topLeft(), QPointF(123, 45));

  EXPECT_EQ(player_map::label_text("ABCDEFGHIJKLMN"), "ABCD...IJKLMN");
  EXPECT_NE(player_map::label_text("Simulated SIM-0012"), player_map::label_text("Simulated OFF-0012"));
  EXPECT_EQ(player_map::label_text("ABCDEFGHIJKLM"), "ABCDEFGHIJKLM");

  float scale = 1.0f;
  for (int i = 0; i < 3; ++i) scale = player_map::scale_up(scale);
  EXPECT_NEAR(scale, 1.3f, 1e-5);
  for (int i = 0; i < 30; ++i) scale = player_map::scale_down(scale);
  EXPECT_NEAR(scale, 0.1f, 1e-5);

  // Offline after eight silent seconds.
  devices.set_value(1, "status_time", QDateTime::currentDateTime().addSecs(-9));
  player_map::check_icons(devices);
  EXPECT_EQ(devices.at(1).value("ICON").value<MapIcon>().image, artwork("ICON_OFFLINE"));
}

// New players' icons: the first at the centre of the visible area, the
// others on free places around it, none on another or on a kept one.
TEST(PlayerMap, NewIconsNeverLieOnEachOther) {
  RecordList devices;
  MapIcon kept;
  kept.frame = QRectF(300, 200, player_map::kIconWidth, player_map::kIconHeight);
  devices.append({{"device_id", "K"}, {"device_name", "kept"}, {"ICON", QVariant::fromValue(kept)}});
  for (int i = 0; i < 40; ++i) devices.append({{"device_id", QString::number(i)}, {"device_name", QString::number(i)}});
  player_map::rebuild(devices, QSizeF(1500, 900), QSizeF(800, 600), QSizeF(600, 400));
  std::vector<QRectF> frames;
  for (int i = 0; i < devices.size(); ++i) frames.push_back(devices.at(i).value("ICON").value<MapIcon>().frame);
  EXPECT_EQ(frames[0], kept.frame);
  for (std::size_t a = 0; a < frames.size(); ++a)
    for (std::size_t b = a + 1; b < frames.size(); ++b)
      EXPECT_FALSE(frames[a].intersects(frames[b])) << a << " and " << b;
  EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const QRectF& f) { return f.topLeft() == QPointF(300, 200); }));
}

TEST_F(Frontend, EveryWindowDrawsSomething) {
  players_->create_test_devices();
  for (QWidget* w : std::initializer_list<QWidget*>{window_.get(), window_->content(), window_->playlists(),
                                                    window_->schedule(), window_->devices(), window_->map()}) {
    w->show();
    EXPECT_TRUE(not_blank(w->grab().toImage())) << w->objectName().toStdString();
  }
  // Every action of the tool windows is a named control.
  for (const char* name : {"press_select", "add_File", "add_stream", "replace_file", "delete_File", "get_links"})
    control(window_->content(), name);
  for (const char* name : {"add_new_playlist", "ADD_FILE_TO_LIST", "MOVE_UP", "send_to_device"})
    control(window_->playlists(), name);
  for (const char* name : {"device_play", "device_pause", "refresh_lists", "open_map"}) control(window_->devices(), name);
  for (const char* name : {"add_line", "change_date", "create_schedule_from_content"})
    control(window_->schedule(), name);
}

TEST_F(Frontend, MapSelectionGoesBothWays) {
  players_->create_test_devices();
  players_->add_did_start();
  MapWindow* map = window_->map();
  map->resize(800, 600);
  map->show();
  map->reload_map();
  ASSERT_EQ(map->icons().size(), 10);
  // Spread the icons so that each can be clicked.
  RecordList& devices = players_->ArrayController_DEVICES();
  for (int i = 0; i < devices.size(); ++i) {
    MapIcon icon = devices.at(i).value("ICON").value<MapIcon>();
    icon.frame.moveTopLeft(QPointF(10 + 75 * (i % 5), 300 - 60 * (i / 5)));
    devices.set_value(i, "ICON", QVariant::fromValue(icon));
  }
  map->reload_map();
  devices.select_list_indices({0, 1});
  EXPECT_TRUE(map->icons()[0]->is_selected());
  EXPECT_TRUE(map->icons()[1]->is_selected());

  // A click on the fourth icon selects exactly that player.
  tavri_dragging_image* icon = map->icons()[3];
  const QPoint at = map->view()->mapFromScene(icon->scenePos() + QPointF(35, 25));
  QTest::mouseClick(map->view()->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(devices.selected_list_indices(), QList<int>{3});
  EXPECT_TRUE(icon->is_selected());
  EXPECT_FALSE(map->icons()[0]->is_selected());

  // Dragging moves the icon in map coordinates.
  const QRectF before = devices.at(3).value("ICON").value<MapIcon>().frame;
  QTest::mousePress(map->view()->viewport(), Qt::LeftButton, {}, at);
  QMouseEvent move(QEvent::MouseMove, QPointF(at + QPoint(40, 0)), map->view()->viewport()->mapToGlobal(QPointF(at + QPoint(40, 0))),
                   Qt::LeftButton, Qt::LeftButton, {});
  QApplication::sendEvent(map->view()->viewport(), &move);
  QTest::mouseRelease(map->view()->viewport(), Qt::LeftButton, {}, at + QPoint(40, 0));
  const QRectF after = devices.at(3).value("ICON").value<MapIcon>().frame;
  EXPECT_NEAR(after.x() - before.x(), 40 / map->scale(), 1.0);
  EXPECT_NEAR(after.y(), before.y(), 1.0);

  for (int i = 0; i < 3; ++i) control(map, "map_scale_up")->click();
  EXPECT_NEAR(map->scale(), 1.3f, 1e-5);
  EXPECT_EQ(map->findChild<QLabel*>("map_zoom")->text(), "130 %");
  control(map, "map_scale_100")->click();
  EXPECT_EQ(map->scale(), 1.0f);
  EXPECT_EQ(map->findChild<QLabel*>("map_zoom")->text(), "100 %");
  control(map, "map_fit")->click();  // the whole map in the view, down to the smallest zoom
  const QSize view = map->view()->viewport()->size();
  const double fit = std::min(view.width() / map->map_size().width(), view.height() / map->map_size().height());
  EXPECT_NEAR(map->scale(), std::max(0.1, fit), 1e-4);
  EXPECT_EQ(map->findChild<QLabel*>("map_zoom")->text(), QString("%1 %").arg(std::lround(map->scale() * 100)));
}

TEST_F(Frontend, ScriptedSessionPublishesAndSends) {
  const QString folder = home() + "/content";
  QDir().mkpath(folder);
  QFile clip(folder + "/Clip.mov");
  ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
  clip.write("not really a movie");
  clip.close();

  // Choose the folder.
  dialogs_.open_answers.push_back(QStringList{folder});
  control(window_->content(), "press_select")->click();
  ASSERT_TRUE(test::spin_until([&] { return !files_->scanning(); }));
  ASSERT_EQ(files_->ArrayController_FILELIST().size(), 1);
  EXPECT_EQ(window_->content()->findChild<QLabel*>("select_label_path")->text(), "CONTENT");

  // Create a playlist and add the content item to it.
  dialogs_.prompt_answers.push_back(QString("Lobby"));
  control(window_->playlists(), "add_new_playlist")->click();
  ASSERT_EQ(playlists_->ArrayController_PLAYLIST().size(), 1);
  auto* content_table = window_->content()->findChild<QTableView*>("TableView_FILELIST");
  ASSERT_TRUE(content_table);
  content_table->selectRow(0);
  EXPECT_EQ(files_->ArrayController_FILELIST().selected_list_indices(), QList<int>{0});
  control(window_->playlists(), "ADD_FILE_TO_LIST")->click();
  EXPECT_TRUE(QFile::exists(folder + "/PLAYLIST_ID_1.SAV"));

  // Test players are made only when the operator says so.
  control<QAction>(window_.get(), "create_test_devices")->trigger();  // the developer menu
  EXPECT_TRUE(players_->ArrayController_DEVICES().empty());
  dialogs_.alert_answers.push_back(1);
  control<QAction>(window_.get(), "create_test_devices")->trigger();
  ASSERT_EQ(players_->ArrayController_DEVICES().size(), 10);

  // With no player selected, a button says so instead of doing nothing,
  // and SEND offers every player (the safe answer sends nothing).
  auto* status = window_->findChild<QLabel*>("last_command");
  players_->ArrayController_DEVICES().select_list_indices({});
  control(window_->devices(), "device_play")->click();
  EXPECT_EQ(status->text(), "PLAY not sent: select one or more players first");
  control(window_->playlists(), "send_to_device")->click();
  EXPECT_EQ(dialogs_.shown.back().detail, "Send \"Lobby\" to all 10 players?");
  EXPECT_TRUE(status->text().contains("not sent: no player selected"));
  EXPECT_FALSE(peer_.receive().has_value());
  players_->ArrayController_DEVICES().select_list_indices({0, 1, 2});
  control(window_->devices(), "changeName")->click();
  EXPECT_EQ(status->text(), "Rename one player at a time: 3 are selected");

  // Send it to a selected test player.
  window_->devices()->findChild<QTableView*>("TableView_DEVICES")->selectRow(0);
  ASSERT_EQ(players_->ArrayController_DEVICES().selection_count(), 1);
  control(window_->playlists(), "send_to_device")->click();
  std::optional<std::string> datagram;
  ASSERT_TRUE(test::spin_until([&] { return (datagram = peer_.receive()).has_value(); }));
  const std::string sent_to = players_->ArrayController_DEVICES().selected_records().first()["device_id"].toString().toStdString();
  EXPECT_NE(datagram->find(sent_to), std::string::npos);
  EXPECT_NE(datagram->find("Lobby"), std::string::npos);
}

TEST(ToolWindows, FramesRoundTripAndStayOnAVisibleScreen) {
  ToolWindowWidget window("w", "W");
  window.show();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const QRectF inside(40, 30, 300, 200);
  window.set_frame(inside);
  EXPECT_EQ(window.frame(), inside) << "saved as restored: no growth at each start";
  window.set_frame(window.frame());
  EXPECT_EQ(window.frame(), inside);

  // Saved on a larger screen, far off this one.
  window.set_frame(QRectF(5000, -4000, 5000, 300));
  const QRect placed = window.frameGeometry();
  EXPECT_TRUE(area.contains(placed.topLeft()));
  EXPECT_LE(window.width(), area.width());
}

TEST(RecordTables, SelectionCurrentRowAndAnchorSurviveValueChanges) {
  RecordList list;
  RecordArray players;
  for (int i = 0; i < 6; ++i) players.append({{"device_id", QString("P%1").arg(i)}, {"device_name", QString("n%1").arg(i)}});
  list.set_records(players);
  list.set_sort_key("device_id");
  Column id, name;
  id.key = "device_id", id.title = "Id", id.width = 80;
  name.key = "device_name", name.title = "Name", name.width = 80;
  RecordTable table("t", list, {id, name});
  table.show();
  int resets = 0;
  QObject::connect(table.model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
  // Click row 1, shift-click row 3: rows 1 to 3 selected, the anchor on 1.
  auto click = [&](int row, Qt::KeyboardModifiers m) {
    const QRect r = table.visualRect(table.model()->index(row, 0));
    QTest::mouseClick(table.viewport(), Qt::LeftButton, m, r.center());
  };
  click(1, Qt::NoModifier);
  click(3, Qt::ShiftModifier);
  ASSERT_EQ(list.selected_rows(), (QList<int>{1, 2, 3}));
  for (int n = 0; n < 20; ++n) list.set_value(n % 6, "device_name", QString("feedback %1").arg(n));  // feedback
  EXPECT_EQ(resets, 0);
  EXPECT_EQ(table.currentIndex().row(), 3);
  EXPECT_EQ(list.selected_rows(), (QList<int>{1, 2, 3}));
  click(4, Qt::ShiftModifier);  // the anchor is still row 1
  EXPECT_EQ(list.selected_rows(), (QList<int>{1, 2, 3, 4}));
  EXPECT_EQ(table.model()->data(table.model()->index(0, 1)).toString(), "feedback 18");
}

TEST(RecordTables, ASecondClickOnAHeaderReversesTheSortAndTheArrowSaysSo) {
  RecordList list;
  RecordArray players;
  for (const char* id : {"P2", "P10", "P1"}) players.append({{"device_id", id}});
  list.set_records(players);
  Column id{"device_id", "Id", 80};
  id.sortable = true;
  RecordTable table("t", list, {id});
  table.show();
  QHeaderView* header = table.horizontalHeader();
  auto click = [&] { QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionSize(0) / 2, 5)); };
  auto first = [&] { return table.model()->data(table.model()->index(0, 0)).toString(); };
  click();
  EXPECT_EQ(first(), "P1");
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  click();
  EXPECT_EQ(first(), "P2") << "reversed";
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_TRUE(header->isSortIndicatorShown());
  click();
  EXPECT_EQ(first(), "P1");
}

TEST_F(Frontend, TheSavedMapOriginIsRestoredAtLoadAndAfterAnImport) {
  // A map larger than its window, scrolled away from the corner, saved.
  QImage plan(3000, 2000, QImage::Format_RGB32);
  plan.fill(Qt::darkGray);
  players_->map_state().background = png_of(plan);
  players_->map_state().frame = QRectF(20, 20, 400, 300);
  players_->map_state().scale = 1.0f;
  players_->map_state().origin = QPointF(900, 700);
  players_->ArrayController_DEVICES().append({{"device_id", "A"}, {"device_name", ""}});
  players_->save();
  players_->map_state() = MapState();

  bus_.post(note::LOAD);  // as at start-up, and after an import
  test::spin_for(100);
  MapWindow* map = window_->map();
  window_->show();
  window_->default_layout(QRect(0, 0, 1366, 768));
  map->bring_to_front();
  test::spin_for(100);
  const QPointF origin = map->visible_origin();
  EXPECT_NEAR(origin.x(), 900, 2);
  EXPECT_NEAR(origin.y(), 700, 2);
  EXPECT_EQ(players_->map_state().origin, QPointF(900, 700));
}

TEST_F(Frontend, MapLabelsSitOnAPlateBelowTheIconAndNeverOnItsArtwork) {
  players_->create_test_devices();
  MapWindow* map = window_->map();
  map->reload_map();
  ASSERT_FALSE(map->icons().isEmpty());
  tavri_dragging_image* icon = map->icons().first();
  RecordList& devices = players_->ArrayController_DEVICES();
  const QRectF frame = devices.at(0).value(player_map::kIconKey).value<MapIcon>().frame;
  EXPECT_GT(icon->boundingRect().bottom(), frame.height() + 30) << "room for three lines below";
  auto render = [&] {
    QImage image(icon->boundingRect().size().toSize(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.translate(-icon->boundingRect().topLeft());
    icon->paint(&p, nullptr, nullptr);
    return image;
  };
  const QImage before = render();
  devices.set_value(0, "id_track", QString("A very long track name that would run over the artwork"));
  MapIcon named = devices.at(0).value(player_map::kIconKey).value<MapIcon>();
  named.name = "Lobby left, by the stairs";
  devices.set_value(0, player_map::kIconKey, QVariant::fromValue(named));
  const QImage after = render();
  const QPoint offset = (-icon->boundingRect().topLeft()).toPoint();
  const QRect artwork = QRect(QPoint(0, 0), frame.size().toSize()).translated(offset);
  EXPECT_EQ(before.copy(artwork), after.copy(artwork)) << "a label reached the artwork";
  EXPECT_NE(before, after) << "the labels show on the plate";
}

// 300 players heard in bursts: no name plate covers another plate or icon,
// and names that differ only at the end are told apart.
TEST_F(Frontend, ThreeHundredPlayersOnTheMapKeepTheirLabelsApart) {
  const QString sep = QString::fromUtf8(wire::kSeparator.data(), qsizetype(wire::kSeparator.size()));
  MapWindow* map = window_->map();
  for (int i = 0; i < 300; ++i) {
    const QString id = QString("%1-%2").arg(i % 2 ? "OFF" : "SIM").arg(i / 2, 4, 10, QChar('0'));
    players_->udp_socket_did_receive((id + sep + "Simulated " + id + sep + "2" + sep + "1" + sep + "1" + sep + "t" + sep +
                                      "0" + sep + "0").toUtf8(), "10.0.0.1");
    if (i % 100 == 99) {
      map->resize(600 + i, 400 + i / 3);  // the next burst arrives with the view elsewhere
      map->reload_map();
    }
  }
  map->reload_map();
  ASSERT_EQ(map->icons().size(), 300);
  std::vector<QRectF> plates, frames;
  for (tavri_dragging_image* icon : map->icons()) {
    plates.push_back(icon->plate().translated(icon->pos()));
    frames.push_back(QRectF(icon->pos(), QSizeF(player_map::kIconWidth, player_map::kIconHeight)));
  }
  int overlaps = 0;
  for (std::size_t a = 0; a < plates.size(); ++a)
    for (std::size_t b = 0; b < plates.size(); ++b)
      if (a != b && (plates[a].intersects(plates[b]) || plates[a].intersects(frames[b]))) ++overlaps;
  EXPECT_EQ(overlaps, 0);
}

TEST_F(Frontend, ThePreviewShowsTheSelectedContentLarger) {
  QTemporaryDir dir;
  QFile stream(dir.path() + "/Radio.stream");
  ASSERT_TRUE(stream.open(QIODevice::WriteOnly));
  stream.write("http://radio.invalid/live");
  stream.close();
  QImage thumb(300, 300, QImage::Format_ARGB32);
  thumb.fill(Qt::blue);
  RecordList& content = files_->ArrayController_FILELIST();
  content.set_records({{{"file_name", "Lobby Loop"}, {"file_url", QUrl::fromLocalFile(dir.path() + "/Lobby Loop.mp4")},
                        {"file_icon", QVariant::fromValue(png_of(thumb))}, {"file_kind", "MPEG-4 movie"}, {"file_length", 75.0},
                        {"file_resolution", "1280 x 720"}, {"file_codec", "H.264"}, {"file_found", 1}},
                       {{"file_name", "Radio"}, {"file_url", QUrl::fromLocalFile(stream.fileName())},
                        {"file_kind", "STREAM"}, {"file_found", 1}}});
  ContentPreview* preview = window_->content()->preview();
  ASSERT_TRUE(preview);
  EXPECT_TRUE(preview->details_text().contains("Select content"));
  content.select_list_indices({0});
  EXPECT_FALSE(preview->picture()->pixmap().isNull());
  EXPECT_GE(preview->picture()->pixmap().width(), 100) << "larger than the table's thumbnail";
  for (const char* shown : {"1280 x 720", "H.264", "00:01:15", "MPEG-4 movie"})
    EXPECT_TRUE(preview->details_text().contains(shown)) << shown;
  content.select_list_indices({1});
  EXPECT_TRUE(preview->details_text().contains("http://radio.invalid/live"));
}

TEST_F(Frontend, PlayerHealthAtAGlance) {
  const QDateTime now = QDateTime::currentDateTime();
  RecordArray players;
  players.append({{"device_id", "A"}, {"device_name", "lobby"}, {"status_device", 2}, {"id_playlist", 7},
                  {"status_time", now}});
  players.append({{"device_id", "B"}, {"device_name", "bar"}, {"status_device", 2}, {"id_playlist", 9},
                  {"status_time", now.addSecs(-200)}});
  // Feedback carries the id as text.
  players.append({{"device_id", "C"}, {"device_name", "hall"}, {"status_device", 2}, {"id_playlist", QString("7")},
                  {"status_time", now}});
  players_->ArrayController_DEVICES().set_records(players);
  playlists_->ArrayController_PLAYLIST().append({{"name", "Morning"}, {"id", 7}});

  const QAbstractItemModel* model = window_->devices()->table()->model();
  auto cell = [&](int row, const QString& title, int role = Qt::DisplayRole) {
    for (int c = 0; c < model->columnCount(); ++c)
      if (model->headerData(c, Qt::Horizontal).toString() == title) return model->index(row, c).data(role);
    ADD_FAILURE() << "no column " << title.toStdString();
    return QVariant();
  };
  auto row_of = [&](const QString& id) {
    for (int r = 0; r < model->rowCount(); ++r)
      if (cell(r, "ID").toString() == id) return r;
    return -1;
  };
  const int a = row_of("A"), b = row_of("B");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(cell(a, "DEVICE").toString(), "READY");
  EXPECT_EQ(cell(b, "DEVICE").toString(), "OFFLINE") << "a silent player is not READY";
  EXPECT_EQ(cell(b, "DEVICE", Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
  EXPECT_FALSE(cell(a, "DEVICE", Qt::ForegroundRole).isValid());
  EXPECT_EQ(cell(b, "LAST SEEN").toString(), "3 min ago");
  EXPECT_EQ(cell(b, "LAST SEEN", Qt::ToolTipRole).toString(), now.addSecs(-200).toString("yyyy-MM-dd HH:mm:ss"));
  EXPECT_EQ(cell(a, "LIST").toString(), "Morning");
  EXPECT_EQ(cell(row_of("C"), "LIST").toString(), "Morning") << "the id as the players send it";
  EXPECT_EQ(cell(b, "LIST").toString(), "9 (unknown)") << "no list has that id";

  auto* census = window_->findChild<QLabel*>("players_census");
  ASSERT_TRUE(census);
  QTRY_COMPARE(census->text(), QString("2 online · 1 offline"));
}

TEST(PlayerStatus, TimesAgo) {
  const QDateTime now = QDateTime::fromString("2026-12-06T12:00:00", Qt::ISODate);
  EXPECT_EQ(players::time_ago(now.addSecs(-12), now), "12 s ago");
  EXPECT_EQ(players::time_ago(now.addSecs(-3 * 60 - 5), now), "3 min ago");
  EXPECT_EQ(players::time_ago(now.addSecs(-5 * 3600), now), "5 h ago");
  EXPECT_EQ(players::time_ago(now.addDays(-2), now), "2 d ago");
  EXPECT_EQ(players::time_ago(now.addSecs(30), now), "0 s ago") << "a player clock ahead of ours";
  EXPECT_EQ(players::time_ago(QVariant(), now), "");
}

TEST(Looks, TextOnASelectedRowMeetsFourAndAHalfToOne) {
  auto luminance = [](const QColor& c) {
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
  };
  auto contrast = [&](const QColor& a, const QColor& b) {
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
  };
  const QColor select = tavri_defaults::color_tavri_green_select();
  for (const QColor& under : {tavri_defaults::color_tavri_dark_gray(), tavri_defaults::color_tavri_gray()}) {
    const double a = select.alphaF();
    const QColor row = QColor::fromRgbF(static_cast<float>(select.redF() * a + under.redF() * (1 - a)),
                                        static_cast<float>(select.greenF() * a + under.greenF() * (1 - a)),
                                        static_cast<float>(select.blueF() * a + under.blueF() * (1 - a)));
    EXPECT_GE(contrast(tavri_defaults::color_tavri_text_on_select(), row), 4.5) << row.name().toStdString();
  }

  // And it is what a selected cell paints, whatever the cell's own colour.
  RecordList list;
  list.append({{"device_id", "A"}});
  Column id("device_id", "Id", 200);
  id.foreground = [](const Record&) { return QColor(Qt::red); };
  RecordTable table("t", list, {id});
  table.resize(240, 80);
  list.select_list_indices({0});
  const QImage shot = table.grab().toImage();
  int red = 0, dark = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 90 && c.blue() < 90) ++red;
      if (c.red() < 40 && c.green() < 40 && c.blue() < 40) ++dark;
    }
  EXPECT_EQ(red, 0) << "red text on the selection";
  EXPECT_GT(dark, 10) << "the text is drawn dark";
}

QRect on_screen(const QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); }

TEST_F(Frontend, TheDefaultLayoutFitsASmallScreenWithEveryActionAtHand) {
  const QRect area(0, 0, 1366, 768);
  window_->show();
  window_->default_layout(area);
  QApplication::processEvents();
  EXPECT_TRUE(area.contains(window_->frameGeometry()));
  std::vector<QRect> panes;
  for (ToolWindowWidget* w : std::initializer_list<ToolWindowWidget*>{window_->playlists(), window_->content(),
                                                                     window_->devices()}) {
    EXPECT_TRUE(w->is_visible()) << w->objectName().toStdString();
    const QRect g = on_screen(w);
    EXPECT_TRUE(area.contains(g)) << w->objectName().toStdString();
    for (const QRect& other : panes) EXPECT_FALSE(g.intersects(other)) << w->objectName().toStdString();
    panes.push_back(g);
  }
  // Rows in sight, counted as the table's viewport holds them.
  auto rows_in_sight = [](QTableView* table) { return table->viewport()->height() / table->verticalHeader()->defaultSectionSize(); };
  EXPECT_GE(rows_in_sight(window_->devices()->table()), 12);
  EXPECT_GE(rows_in_sight(window_->playlists()->findChild<QTableView*>("TableView_DISPLAYLIST")), 8);
  // Every action of every pane: in its "more" menu and its table's context menu.
  for (ToolWindowWidget* w : std::initializer_list<ToolWindowWidget*>{window_->playlists(), window_->content(),
                                                                     window_->devices(), window_->schedule()}) {
    for (QToolButton* more : w->findChildren<QToolButton*>(QRegularExpression("_more$"))) {
      ASSERT_TRUE(more->menu());
      const QList<QAction*> listed = more->menu()->actions();
      EXPECT_FALSE(listed.isEmpty());
      QTableView* table = more->parentWidget()->parentWidget()->findChild<QTableView*>();
      ASSERT_TRUE(table) << more->objectName().toStdString();
      for (QAction* a : listed) EXPECT_TRUE(table->actions().contains(a)) << a->objectName().toStdString();
    }
  }
  for (const char* name : {"send_to_device", "ADD_FILE_TO_LIST", "device_play", "send_schedule", "changeImg_length",
                           "remove_devices", "get_links", "delete_line"}) {
    auto* action = window_->findChild<QAction*>(name);
    ASSERT_TRUE(action) << name;
    EXPECT_FALSE(action->associatedObjects().isEmpty()) << name;
  }
  // The map is a tab behind the players: its key brings it forward, with the keys.
  MapWindow* map = window_->map();
  EXPECT_FALSE(map->is_visible());
  control<QAction>(window_.get(), "open_map")->trigger();
  QApplication::processEvents();
  EXPECT_TRUE(map->is_visible());
  EXPECT_FALSE(window_->devices()->is_visible());
  EXPECT_TRUE(area.contains(on_screen(map)));
  control<QAction>(window_.get(), "open_window_devices")->trigger();
  QApplication::processEvents();
  EXPECT_TRUE(window_->devices()->is_visible());
  EXPECT_EQ(QApplication::focusWidget(), window_->devices()->table());
  EXPECT_TRUE(window_->findChild<QAction*>("reset_layout"));

  // An offline alert shows in the window itself, until dismissed.
  EXPECT_TRUE(window_->alert_text().isEmpty());
  window_->show_alert("30 players are offline", "They have sent nothing since 10:02: bar 00, bar 01, bar 02 and 27 more.");
  QApplication::processEvents();
  EXPECT_TRUE(window_->alert_text().startsWith("30 players are offline: They have sent nothing since 10:02"));
  EXPECT_TRUE(area.contains(on_screen(window_->findChild<QLabel*>("alert_text"))));
  control<QAction>(window_.get(), "dismiss_alert")->trigger();
  EXPECT_TRUE(window_->alert_text().isEmpty());
}

TEST_F(Frontend, TheArrangementOfPanesIsKeptAndAFloatingPaneComesBackOnTheScreen) {
  window_->show();
  window_->default_layout(QRect(0, 0, 1366, 768));
  QDockWidget* content = window_->dock_of(window_->content());
  ASSERT_TRUE(content);
  // Saved when changed, not at quit: a crash keeps it.
  const QString saved = application_folder() + "/tavri_AV_SERVER_DOCKS.sav";
  QFile::remove(saved);
  content->setFloating(true);
  content->setGeometry(6000, 4000, 500, 400);  // as if saved with a screen far to the right
  window_->dock_of(window_->schedule())->hide();
  ASSERT_TRUE(test::spin_until([&] { return QFile::exists(saved); }, 20000));

  window_->default_layout(QRect(0, 0, 1366, 768));
  ASSERT_FALSE(content->isFloating());
  ASSERT_TRUE(window_->restore_dock_state());
  QApplication::processEvents();
  EXPECT_TRUE(content->isFloating());
  EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(content->geometry().topLeft()));
  EXPECT_FALSE(window_->schedule()->is_visible());
  // The saved window frames stay as they were: a floating pane's frame is its own.
  EXPECT_EQ(window_->content()->frame().size(), QSizeF(content->size()));

  // A foreign file beside them changes nothing.
  QFile foreign(application_folder() + "/tavri_AV_SERVER_DOCKS.sav");
  ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
  foreign.write("not a layout");
  foreign.close();
  EXPECT_FALSE(window_->restore_dock_state());
}

TEST_F(Frontend, EveryMainActionIsInTheMenusWithATooltip) {
  QStringList in_menus;
  for (QAction* menu : window_->menuBar()->actions())
    for (QAction* a : menu->menu()->actions())
      if (!a->isSeparator()) {
        in_menus << a->objectName();
        EXPECT_FALSE(a->toolTip().isEmpty()) << a->objectName().toStdString();
      }
  for (const char* name : {"open_window_playlist", "open_window_content", "open_window_devices",
                           "open_window_schedule", "open_map", "SAVE_ALL", "export_all", "import_all", "quit",
                           "reset_layout", "create_test_devices", "undo"})
    EXPECT_TRUE(in_menus.contains(name)) << name;
  EXPECT_EQ(window_->findChild<QAction*>("SAVE_ALL")->shortcut(), QKeySequence(QKeySequence::Save));
  // And every button of every pane says what it does.
  for (QWidget* pane : std::initializer_list<QWidget*>{window_->playlists(), window_->content(), window_->devices(),
                                                       window_->schedule(), window_->map()})
    for (tavri_button* b : pane->findChildren<tavri_button*>())
      EXPECT_FALSE(b->toolTip().isEmpty()) << b->objectName().toStdString();
  EXPECT_FALSE(window_->devices()->findChild<QPushButton*>("create_test_devices"))
      << "made-up players belong to the developer menu";
}

TEST_F(Frontend, TheFilterShowsMatchingRowsAndHiddenRowsLeaveTheSelection) {
  RecordArray players;
  for (const char* name : {"lobby left", "bar", "Lobby right", "kitchen"})
    players.append({{"device_id", name}, {"device_name", name}, {"status_device", 2}});
  RecordList& list = players_->ArrayController_DEVICES();
  list.set_records(players);
  RecordTable* table = window_->devices()->table();
  auto* field = window_->devices()->findChild<QLineEdit*>("TableView_DEVICES_filter");
  ASSERT_TRUE(field);
  list.select_list_indices({0, 1});
  field->setText("LOBBY");
  QStringList shown;
  for (int r = 0; r < list.size(); ++r)
    if (!table->isRowHidden(r)) shown << list.row(r).value("device_name").toString();
  EXPECT_EQ(shown.size(), 2);
  EXPECT_TRUE(shown.contains("lobby left") && shown.contains("Lobby right"));
  EXPECT_EQ(list.selected_records().size(), 1) << "the hidden bar is no longer selected";
  EXPECT_EQ(list.selected_records().first().value("device_name"), "lobby left");

  // Select-all (Ctrl+A) takes the rows in view, not the hidden ones.
  table->selectAll();
  EXPECT_EQ(list.selected_records().size(), 2);
  // A row whose values change is judged again.
  list.set_value(3, "device_name", "lobby kitchen");
  EXPECT_FALSE(table->isRowHidden(list.row_of_list_index(3)));
  field->clear();
  for (int r = 0; r < list.size(); ++r) EXPECT_FALSE(table->isRowHidden(r));
}

namespace {
void write_file_for_drop(const QString& path) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write("movie");
}
// What a drop on a row does (past the last row when -1).
void drop_on(RecordTable* table, QMimeData* data, int row) {
  EXPECT_TRUE(table->drop_data(*data, row < 0 ? table->model()->rowCount() : row));
}
}  // namespace

// A drag as a person starts it: press on a content row and move past the
// drag distance; the rows must be draggable for anything to start.
TEST_F(Frontend, ContentDraggedWithTheMouseLandsInThePlaylist) {
  RecordList& content = files_->ArrayController_FILELIST();
  for (const char* name : {"a", "b"}) content.append({{"file_name", name}, {"file_kind", "movie"}});
  playlists_->ArrayController_PLAYLIST().append({{"name", "Lobby"}, {"id", 1}});
  playlists_->ArrayController_PLAYLIST().select_list_indices({0});
  editor_->tableViewSelectionDidChange();
  window_->show();
  window_->default_layout(QRect(0, 0, 1366, 768));
  QApplication::processEvents();
  RecordTable* source = window_->content()->table();
  RecordTable* target = window_->playlists()->item_table();
  ASSERT_TRUE(source->model()->flags(source->model()->index(1, 1)) & Qt::ItemIsDragEnabled);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  const QPoint from = source->visualRect(source->model()->index(1, 1)).center();
  const QPoint to = target->viewport()->rect().center();
  content.select_list_indices({1});
  // The mouse starts a drag of the selected row; QDrag::exec runs its own
  // loop, where a timer looks at what is carried and ends it.
  QByteArray carried;
  QTimer::singleShot(200, [&] {
    if (auto* drag = source->findChild<QDrag*>()) carried = drag->mimeData()->data(kContentRowsMime);
    QDrag::cancel();
  });
  QTest::mousePress(source->viewport(), Qt::LeftButton, {}, from);
  QTest::mouseMove(source->viewport(), from + QPoint(QApplication::startDragDistance() + 5, 0));
  QTest::mouseMove(source->viewport(), from + QPoint(2 * QApplication::startDragDistance() + 10, 0));
  ASSERT_TRUE(test::spin_until([&] { return !carried.isEmpty(); }));
  EXPECT_EQ(carried, "1");
  QTest::mouseRelease(source->viewport(), Qt::LeftButton, {}, from);

  // What it carries, brought over the items as the system delivers a drag:
  // enter, move (the drop line shows), drop.
  QMimeData data;
  data.setData(kContentRowsMime, carried);
  QDragEnterEvent enter(to, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(target->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(to, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(target->viewport(), &move);
  EXPECT_TRUE(move.isAccepted());
  EXPECT_TRUE(target->drop_line_shown());
  QDropEvent drop(to, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(target->viewport(), &drop);
  ASSERT_EQ(editor_->ArrayController_DISPLAYLIST().size(), 1);
  EXPECT_FALSE(target->drop_line_shown());

  // On the tasks of the shown schedule, content becomes a task per file.
  schedule_->append_and_select({{"name", "Week"}, {"id", 1}, {"tasks", 0}, {"tasklist", QVariantList()}});
  auto* tasks = window_->schedule()->findChild<RecordTable*>("TableView_SCHEDULE_VIEW");
  ASSERT_TRUE(tasks);
  QDragEnterEvent over_tasks(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(tasks->viewport(), &over_tasks);
  EXPECT_TRUE(over_tasks.isAccepted());
  QDropEvent on_tasks(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(tasks->viewport(), &on_tasks);
  ASSERT_EQ(schedule_view_->ArrayController_SCHEDULE_VIEW().size(), 1);
  EXPECT_TRUE(schedule_view_->ArrayController_SCHEDULE_VIEW().at(0).value("name").toString().startsWith("Week | "));
  EXPECT_EQ(files_->ArrayController_FILELIST().selected_list_indices(), QList<int>{1}) << "the dragged file";
  EXPECT_EQ(editor_->ArrayController_DISPLAYLIST().at(0).value("file_name"), "b");
}

// A copy keeps its source's name but opens it for typing: Enter takes the
// new name, Escape keeps the old one.
// The week beside the tasks: a daily task on each of the seven days, a
// dated one on its day only, one for another week nowhere; a click on a
// slot selects its task.
// Enter in a prompt's field takes the typed answer, as the OK button does.
TEST(Prompts, EnterTakesTheAnswer) {
  QtDialogs dialogs;
  QTimer::singleShot(100, [] {
    QWidget* box = QApplication::activeModalWidget();
    auto* field = box ? box->findChild<QLineEdit*>() : nullptr;
    if (!field) return;
    QTest::keyClicks(field, "Foyer");  // replaces the suggestion, which is selected
    QTest::keyClick(field, Qt::Key_Return);
  });
  QTimer::singleShot(3000, [] {  // never hangs the suite
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  EXPECT_EQ(dialogs.prompt("Please enter the new name:", "Lobby", 200), std::optional<QString>("Foyer"));
}

TEST(ScheduleWeek, ShowsEachTaskOnItsDaysAndAClickSelectsIt) {
  RecordList tasks;
  const QDate monday(2026, 12, 7);
  tasks.append({{"name", "Open"}, {"time", "08:00"}, {"date", "2026-12-01"}, {"daily", 1}, {"active", 1}, {"list", 1}});
  tasks.append({{"name", "Gala"}, {"time", "20:30"}, {"date", "2026-12-09"}, {"daily", 0}, {"active", 1}, {"list", 2}});
  tasks.append({{"name", "Later"}, {"time", "09:00"}, {"date", "2027-01-20"}, {"daily", 0}, {"active", 1}, {"list", 2}});
  ScheduleWeekView week(tasks, [](const QVariant& list) { return QString("list %1").arg(list.toInt()); });
  week.resize(700, 300);
  week.set_first_day(monday);
  const auto placed = week.placed();
  ASSERT_EQ(placed.size(), 8);
  EXPECT_EQ(std::count_if(placed.begin(), placed.end(), [](const auto& s) { return s.task == 0; }), 7);
  const auto gala = std::find_if(placed.begin(), placed.end(), [](const auto& s) { return s.task == 1; });
  ASSERT_NE(gala, placed.end());
  EXPECT_EQ(gala->text, "20:30 list 2");
  EXPECT_EQ(gala->rect.left(), placed[2].rect.left()) << "in the Wednesday column, as the daily one that day";
  EXPECT_GT(gala->rect.top(), placed[2].rect.top()) << "the evening below the morning";
  QTest::mouseClick(&week, Qt::LeftButton, {}, gala->rect.center().toPoint());
  EXPECT_EQ(tasks.selected_list_indices(), QList<int>{1});
}

TEST_F(Frontend, ACopyOpensItsNameForEditing) {
  RecordList& lists = playlists_->ArrayController_PLAYLIST();
  lists.append({{"name", "Lobby loop"}, {"id", 1}});
  lists.select_list_indices({0});
  window_->show();
  window_->default_layout(QRect(0, 0, 1366, 768));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  control(window_->playlists(), "copy_playlist")->click();
  ASSERT_EQ(lists.size(), 2);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->text(), "Lobby loop");
  editor->setText("Lobby loop, east");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
  QStringList names;
  for (int i = 0; i < lists.size(); ++i) names << lists.at(i).value("name").toString();
  EXPECT_TRUE(names.contains("Lobby loop") && names.contains("Lobby loop, east")) << names.join("|").toStdString();

  const QVariant source = lists.at(lists.selected_list_indices().first()).value("name");
  control(window_->playlists(), "copy_playlist")->click();
  editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_TRUE(editor);
  QTest::keyClick(editor, Qt::Key_Escape);
  QApplication::processEvents();
  ASSERT_EQ(lists.size(), 3);
  EXPECT_EQ(lists.at(lists.selected_list_indices().first()).value("name"), source);
}

TEST_F(Frontend, DropsPutContentIntoAPlaylistWhereDroppedMoveItemsAndCopyFilesIn) {
  RecordList& content = files_->ArrayController_FILELIST();
  for (const char* name : {"a", "b", "c"}) content.append({{"file_name", name}, {"file_kind", "movie"}});
  playlists_->ArrayController_PLAYLIST().append({{"name", "Lobby"}, {"id", 1}});
  playlists_->ArrayController_PLAYLIST().select_list_indices({0});
  editor_->tableViewSelectionDidChange();
  window_->playlists()->show();
  window_->playlists()->resize(900, 500);
  QApplication::processEvents();
  RecordTable* items_table = window_->playlists()->item_table();
  RecordList& items = editor_->ArrayController_DISPLAYLIST();
  auto names = [&] {
    QStringList out;
    for (int i = 0; i < items.size(); ++i) out << items.at(i).value("file_name").toString();
    return out;
  };
  auto rows = [](const char* mime, const QByteArray& indices) {
    auto* data = new QMimeData;
    data->setData(mime, indices);
    return data;
  };
  std::unique_ptr<QMimeData> first(rows(kContentRowsMime, "0,2"));
  drop_on(items_table, first.get(), -1);
  EXPECT_EQ(names(), (QStringList{"a", "c"}));
  std::unique_ptr<QMimeData> second(rows(kContentRowsMime, "1"));
  drop_on(items_table, second.get(), 1);  // before "c"
  EXPECT_EQ(names(), (QStringList{"a", "b", "c"}));
  EXPECT_EQ(decode_movielist(playlists_->ArrayController_PLAYLIST().at(0)).size(), 3) << "stored at once";
  std::unique_ptr<QMimeData> move(rows(kItemRowsMime, "2"));
  drop_on(items_table, move.get(), 0);
  EXPECT_EQ(names(), (QStringList{"c", "a", "b"}));

  // Files from a file manager are copied in as "add file" does; with no
  // content folder chosen the operator is told.
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(home() + "/x.mov")});
  write_file_for_drop(home() + "/x.mov");
  window_->content()->show();
  QApplication::processEvents();
  drop_on(window_->content()->table(), &files, -1);
  EXPECT_EQ(dialogs_.alert_messages().last(), "Any content folder selected");
  QMimeData text;
  text.setText("not ours");
  EXPECT_FALSE(items_table->drop_data(text, 0));
}

TEST_F(Frontend, TheHistoryPaneShowsTheSelectedPlayerAndTheTableItsUptime) {
  history::HistoryService history(*players_, dialogs_, {});
  ASSERT_TRUE(history.available());
  MainWindow window(WindowControllers{*app_, *files_, *playlists_, *editor_, *schedule_, *schedule_view_, *players_,
                                      bus_, dialogs_, &history});
  window.show();
  window.default_layout(QRect(0, 0, 1366, 768));
  const QByteArray feedback("H1<v_OX_TANDEM>Hall<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>4<v_OX_TANDEM>a.mp4"
                            "<v_OX_TANDEM>0<v_OX_TANDEM>0");
  players_->udp_socket_did_receive(feedback, "192.0.2.9");
  ASSERT_EQ(players_->ArrayController_DEVICES().size(), 1);
  history.store()->record(history::Event{QDateTime::currentMSecsSinceEpoch(), "H1", "command", "14 load schedule"});
  history.store()->flush();
  bool refreshed = false;
  QObject::connect(&history, &history::HistoryService::uptimes_refreshed, [&] { refreshed = true; });
  history.refresh_uptimes();
  ASSERT_TRUE(test::spin_until([&] { return refreshed; }));
  players_->ArrayController_DEVICES().select_list_indices({0});
  HistoryWindow* pane = window.history();
  ASSERT_TRUE(pane);
  EXPECT_TRUE(pane->summary_text().contains("Uptime 24 h: 100.0 %")) << pane->summary_text().toStdString();
  ASSERT_GE(pane->events()->rowCount(), 2);
  EXPECT_EQ(pane->events()->item(pane->events()->rowCount() - 1, 1)->text(), "first seen");
  EXPECT_FALSE(pane->events()->findItems("LOAD SCHEDULE", Qt::MatchExactly).isEmpty()) << "a command by its name";
  EXPECT_EQ(pane->timeline()->days().size(), 7u);
  EXPECT_FALSE(pane->timeline()->days().back().online.empty());

  QAbstractItemModel* model = window.devices()->table()->model();
  const int uptime_column = column_titled(model, "UPTIME 24H");
  ASSERT_GE(uptime_column, 0);
  EXPECT_EQ(model->data(model->index(0, uptime_column)).toString(), "100.0 %");

  // Proof of play through the save panel: a header line, even for a day without plays.
  const QString csv = home() + "/plays.csv";
  dialogs_.date_answers = {QDateTime::currentDateTime(), QDateTime::currentDateTime()};
  dialogs_.save_answers = {csv};
  control<QAction>(&window, "export_proof_of_play")->trigger();
  ASSERT_TRUE(test::spin_until([&] { return QFile::exists(csv); }));  // queried off the main thread
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readLine().startsWith("player id,player name,playlist id,playlist name,track,start,end,seconds"));
}

// The desk's changes are in the audit with what they were applied to, and
// the desk shows the audit, filtered.
TEST_F(Frontend, TheDesksActionsAndEditsAreInTheAudit) {
  history::HistoryService history(*players_, dialogs_, {});
  ASSERT_TRUE(history.available());
  desk_audit::set_recorder([&](const QString& operation, const QString& arguments, const QString& result) {
    history.store()->record(history::AuditEntry{QDateTime::currentMSecsSinceEpoch(), "desk (admin)", "desk", operation, arguments, result});
  });
  MainWindow window(WindowControllers{*app_, *files_, *playlists_, *editor_, *schedule_, *schedule_view_, *players_,
                                      bus_, dialogs_, &history});
  window.show();
  window.default_layout(QRect(0, 0, 1366, 768));
  history.store()->record(history::AuditEntry{QDateTime::currentMSecsSinceEpoch(), "alice (operator)", "10.0.0.5",
                                              "POST /api/send", "{}", "done"});
  dialogs_.prompt_answers = {"Lobby"};
  control<QAction>(window.playlists(), "add_new_playlist")->trigger();
  ASSERT_EQ(playlists_->ArrayController_PLAYLIST().size(), 1);
  window.playlists()->playlist_table()->model()->setData(window.playlists()->playlist_table()->model()->index(0, 1), "Foyer", Qt::EditRole);
  window.show_audit();
  auto* audit = qobject_cast<AuditWindow*>(window.audit_window());
  ASSERT_TRUE(audit);
  const auto rows = [&] {
    QStringList out;
    for (int r = 0; r < audit->table()->rowCount(); ++r)
      out << QString("%1 | %2 | %3 | %4").arg(audit->table()->item(r, 1)->text(), audit->table()->item(r, 3)->text(),
                                            audit->table()->item(r, 4)->text(), audit->table()->item(r, 5)->text());
    return out;
  };
  EXPECT_TRUE(rows().filter(QRegularExpression("^desk \\(admin\\) \\| .*NEW.* \\| done")).size() == 1) << rows().join("\n").toStdString();
  EXPECT_TRUE(rows().filter(QRegularExpression("^desk \\(admin\\) \\| EDIT .* \\| done \\| .*= Foyer$")).size() == 1)
      << rows().join("\n").toStdString();
  audit->who()->setText("ALICE");
  audit->reload();
  EXPECT_EQ(rows(), QStringList{"alice (operator) | POST /api/send | done | {}"});
  desk_audit::set_recorder({});
}

// Dayparts in the week: on their days only, and tasks at the same time
// side by side rather than on top of each other.
TEST(ScheduleWeek, DaypartsOnTheirDaysAndTasksAtOneTimeSideBySide) {
  RecordList tasks;
  tasks.append({{"name", "Breakfast"}, {"time", "07:00"}, {"date", "2026-01-01"}, {"daily", 1}, {"active", 1},
                {"list", 1}, {"days", "Mon Tue Wed Thu Fri"}, {"end_time", "10:30"}});
  tasks.append({{"name", "News"}, {"time", "07:00"}, {"date", "2026-12-08"}, {"daily", 0}, {"active", 1}, {"list", 2}});
  ScheduleWeekView week(tasks, [](const QVariant& list) { return QString("list %1").arg(list.toInt()); });
  week.resize(700, 300);
  week.set_first_day(QDate(2026, 12, 7));  // a Monday
  const auto placed = week.placed();
  EXPECT_EQ(std::count_if(placed.begin(), placed.end(), [](const auto& s) { return s.task == 0; }), 5) << "not at the weekend";
  EXPECT_EQ(placed.first().text, QString::fromUtf8("07:00\u201310:30 list 1"));
  const auto on_tuesday = [&](int task) {
    return *std::find_if(placed.begin(), placed.end(), [&](const auto& s) {
      return s.task == task && s.rect.left() >= placed[1].rect.left() - 1 && s.rect.right() <= placed[1].rect.left() + 100;
    });
  };
  const QRectF a = on_tuesday(0).rect, b = on_tuesday(1).rect;
  EXPECT_FALSE(a.intersects(b)) << "both show";
  EXPECT_EQ(a.top(), b.top());
  week.set_first_day(QDate(2026, 12, 14));
  EXPECT_EQ(week.placed().size(), 5) << "the week after: the daypart only";
}

// Groups and announcements at the desk: the selection joins a new group,
// the group is selected again, an announcement to it shows under the tool
// bar and its End gives the players back what they had.
TEST_F(Frontend, GroupsAndAnAnnouncementAtTheDesk) {
  PlayerGroups groups({});
  Announcement announcement(*players_, [](bool, qint64) { return std::nullopt; }, {});
  MainWindow window(WindowControllers{*app_, *files_, *playlists_, *editor_, *schedule_, *schedule_view_, *players_,
                                      bus_, dialogs_, nullptr, &groups, &announcement});
  window.show();
  for (const char* id : {"G1", "G2", "G3"})
    players_->udp_socket_did_receive(QByteArray(id) + "<v_OX_TANDEM>Hall<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>4"
                                     "<v_OX_TANDEM>a.mp4<v_OX_TANDEM>0<v_OX_TANDEM>0", "192.0.2.9");
  RecordList& devices = players_->ArrayController_DEVICES();
  ASSERT_EQ(devices.size(), 3);
  devices.select_list_indices({0, 2});
  dialogs_.choose_answers = {0};  // "New group…", the only choice so far
  dialogs_.prompt_answers = {QString("Cafeteria")};
  control<QAction>(&window, "add_to_group")->trigger();
  EXPECT_EQ(groups.members("Cafeteria"), (QStringList{"G1", "G3"}));
  QAbstractItemModel* model = window.devices()->table()->model();
  const int groups_column = column_titled(model, "GROUPS");
  ASSERT_GE(groups_column, 0);
  EXPECT_EQ(model->data(model->index(0, groups_column)).toString(), "Cafeteria");
  devices.select_list_indices({1});
  dialogs_.choose_answers = {0};
  control<QAction>(&window, "select_group")->trigger();
  EXPECT_EQ(players_->selected_ids(), (QStringList{"G1", "G3"}));

  // A stream to the group (choices: no lists, so the stream; then the
  // selection, the group, all), until ended.
  peer_.set_timeout(200);
  while (peer_.receive()) {}
  dialogs_.choose_answers = {0, 1};
  dialogs_.prompt_answers = {QString("http://s/closing.m3u8"), QString("0")};
  control<QAction>(&window, "announce")->trigger();
  ASSERT_TRUE(announcement.running());
  EXPECT_EQ(announcement.targets(), QStringList{"group:Cafeteria"});
  EXPECT_TRUE(window.announcement_text().contains("stream http://s/closing.m3u8 to group:Cafeteria (2 players)"))
      << window.announcement_text().toStdString();
  int sent = 0;
  while (peer_.receive()) ++sent;
  EXPECT_EQ(sent, 2);
  control<QAction>(&window, "end_announcement")->trigger();
  EXPECT_FALSE(announcement.running());
  EXPECT_TRUE(window.announcement_text().isEmpty());
  // Told nothing by this server before, they clear their list.
  std::vector<std::string> back;
  while (auto d = peer_.receive()) back.push_back(*d);
  EXPECT_EQ(back.size(), 2u);
  std::sort(back.begin(), back.end());
  EXPECT_EQ(back, (std::vector<std::string>{wire::encode_command("G1", wire::kClearList),
                                            wire::encode_command("G3", wire::kClearList)}));

  // To all asks first; Cancel starts nothing.
  dialogs_.choose_answers = {0, 2};
  dialogs_.prompt_answers = {QString("http://s/x.m3u8")};
  dialogs_.alert_answers = {0};
  control<QAction>(&window, "announce")->trigger();
  EXPECT_FALSE(announcement.running());
  EXPECT_EQ(dialogs_.alert_messages().last(), "Interrupt all 3 players?");
}
