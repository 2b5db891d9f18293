#include <gtest/gtest.h>

#include <functional>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QUrl>

#include "core/background_writer.h"
#include "core/undo_history.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/notifications.h"
#include "core/picture_size.h"
#include "players/announcement.h"
#include "players/feedback_guard.h"
#include "players/player_status.h"
#include "players/udp_feedback.h"
#include "support/event_loop.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"
#include "support/udp_peer.h"

using namespace tavri;

namespace {

std::string feedback(const std::string& id, const std::string& name, int status_device = 2,
                     const std::string& extra = "") {
  std::string s = id + "<v_OX_TANDEM>" + name + "<v_OX_TANDEM>" + std::to_string(status_device) +
                  "<v_OX_TANDEM>1<v_OX_TANDEM>7<v_OX_TANDEM>3<v_OX_TANDEM>0<v_OX_TANDEM>0";
  return s + extra;
}

class Players : public test::TestHome {
 protected:
  void SetUp() override {
    TestHome::SetUp();
    config.feedback_port = 0;
    config.command_host = "127.0.0.1";
    config.command_port = listener.port();
    config.check_interval_ms = 3600 * 1000;  // ticks are driven by the tests
    config.reopen_first_delay = 0.05;
    config.heard_again_ms = 0;  // what a test feeds once is saved (AnIdHeardOnlyOnceIsNotSaved)
    bus.register_observer(this, note::SAVE_ALL_LISTS, [this](const QVariant&) { ++save_all_posts; });
  }
  std::unique_ptr<UDP_Feedback> make() {
    return std::make_unique<UDP_Feedback>(bus, dialogs, &content, config, &pool);
  }
  QStringList commands(int expected) {
    QStringList out;
    for (int i = 0; i < expected; ++i) {
      auto d = listener.receive();
      if (!d) break;
      out << QString::fromStdString(*d).replace("<v_OX_TANDEM>", "|");
    }
    return out;
  }
  net::IoPool pool{2};
  Bus bus;
  test::ScriptedDialogs dialogs;
  RecordList content;
  test::UdpPeer listener;
  test::UdpPeer sender;
  PlayerNetworkConfig config;
  int save_all_posts = 0;
};

}  // namespace

TEST_F(Players, FeedbackCreatesOneRecordAndRepeatsWaitForTheTick) {
  auto p = make();
  ASSERT_GT(p->feedback_port(), 0);
  EXPECT_TRUE(log().contains("UDP PORT BIND"));
  EXPECT_TRUE(log().contains("UDP CONNECTED"));
  int rebuilds = 0;
  QObject::connect(p.get(), &UDP_Feedback::reload_map_requested, [&] { ++rebuilds; });

  const std::string a = feedback("A1", "Foyer", 2, "<v_OX_TANDEM>12:00");
  sender.send_to(p->feedback_port(), a);
  ASSERT_TRUE(test::spin_until([&] { return p->ArrayController_DEVICES().size() == 1; }));
  const Record r = p->ArrayController_DEVICES().at(0);
  EXPECT_EQ(r["device_ip"].toString(), "127.0.0.1");
  EXPECT_EQ(r["device_time"].toString(), "12:00");
  EXPECT_EQ(r["device_background"].toString(), "---");
  EXPECT_EQ(r["status_device"].toInt(), 2);
  EXPECT_TRUE(r["status_time"].toDateTime().isValid());
  EXPECT_EQ(log().count("ADD DEVICE"), 1);
  EXPECT_TRUE(test::spin_until([&] { return rebuilds == 1; }));
  EXPECT_TRUE(log().contains("RECEIVE FROM: Foyer - A1"));

  // The same bytes again before a tick: ignored.
  p->ArrayController_DEVICES().set_value(0, "device_name", "changed locally");
  p->udp_socket_did_receive(QByteArray::fromStdString(a), "127.0.0.1");
  EXPECT_EQ(p->ArrayController_DEVICES().at(0)["device_name"].toString(), "changed locally");
  p->timer_check();
  p->udp_socket_did_receive(QByteArray::fromStdString(a), "127.0.0.1");
  EXPECT_EQ(p->ArrayController_DEVICES().at(0)["device_name"].toString(), "Foyer");
  EXPECT_EQ(rebuilds, 1) << "a refresh does not rebuild the map";
}

TEST_F(Players, ManyPlayersAlternatingLoseAndDuplicateNothing) {
  auto p = make();
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 1000; ++i)
      p->udp_socket_did_receive(QByteArray::fromStdString(feedback("P" + std::to_string(i), "n")), "h");
  ASSERT_EQ(p->ArrayController_DEVICES().size(), 1000);
  QSet<QString> ids;
  for (const auto& r : p->ArrayController_DEVICES().records()) ids.insert(r["device_id"].toString());
  EXPECT_EQ(ids.size(), 1000);
  // And through the real socket, from two players taking turns.
  for (int i = 0; i < 200; ++i) sender.send_to(p->feedback_port(), feedback(i % 2 ? "X" : "Y", std::to_string(i)));
  ASSERT_TRUE(test::spin_until([&] { return p->ArrayController_DEVICES().size() == 1002; }));
  test::spin_for(100);
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 1002);
  EXPECT_EQ(p->ArrayController_DEVICES().at(1001)["device_name"].toString(), "199") << "arrival order kept";
}

TEST_F(Players, StatusFourAsksForFeedbackAndMalformedDatagramsOnlySetTheMemory) {
  auto p = make();
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "a", 4)), "h");
  EXPECT_EQ(commands(1), QStringList{"0|0"});
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 1);
  EXPECT_EQ(players::Device_Status(p->ArrayController_DEVICES().at(0)["status_device"]), "DEVICE ERROR");
  // Seven fields: dropped, and no request even with status 4.
  p->udp_socket_did_receive("B<v_OX_TANDEM>b<v_OX_TANDEM>4<v_OX_TANDEM>1<v_OX_TANDEM>1<v_OX_TANDEM>1<v_OX_TANDEM>1", "h");
  // Players that stay in error, and forged ones turning to it, ask no more
  // within the interval: their answers would be errors again.
  for (int i = 0; i < 50; ++i) {
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "a", 4, std::to_string(i))), "h");
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("F" + std::to_string(i), "forged", 4)), "h");
  }
  listener.set_timeout(200);
  EXPECT_FALSE(listener.receive().has_value());
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 51);
  // Why datagrams were dropped is said once per interval, with counts.
  p->udp_socket_did_receive("caf\xE9<v_OX_TANDEM>1<v_OX_TANDEM>2<v_OX_TANDEM>3<v_OX_TANDEM>4<v_OX_TANDEM>5<v_OX_TANDEM>6<v_OX_TANDEM>7", "h");
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("", "no id")), "h");
  sender.send_to(p->feedback_port(), feedback("BIG", std::string(20000, 'n')));
  ASSERT_TRUE(test::spin_until([&] {
    p->timer_check();
    return log().join('\n').contains("longer than 9216 bytes");
  }));
  // One line per interval (the cut one may come in the same interval or the next).
  const QString first = log().filter("FEEDBACK DROPPED").first();
  for (const char* part : {"1 an empty id or one with a NUL (h: 1)", "1 fewer than 8 fields (h: 1)", "1 not UTF-8 (h: 1)"})
    EXPECT_TRUE(first.contains(part)) << first.toStdString();
  EXPECT_LE(log().filter("FEEDBACK DROPPED").size(), 2);
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 51) << "a cut datagram is not stored cut";
}

TEST(FeedbackRequestLimiter, OnceATurnToErrorOncePerIntervalAndOnceAMinutePerAddress) {
  FeedbackRequestLimiter limiter(4000);
  EXPECT_FALSE(limiter.should_request("a", std::nullopt, 2, 0));
  EXPECT_TRUE(limiter.should_request("a", std::nullopt, 4, 0)) << "a new player in error";
  EXPECT_FALSE(limiter.should_request("b", 2, 4, 100)) << "another turn within the interval";
  EXPECT_FALSE(limiter.should_request("b", 4, 4, 5000)) << "staying in error is no turn";
  EXPECT_TRUE(limiter.should_request("b", 2, 4, 5000));
  EXPECT_FALSE(limiter.should_request("a", 3, 4, 9000)) << "one address asks once a minute";
  EXPECT_TRUE(limiter.should_request("c", 3, 4, 9000));
  EXPECT_TRUE(limiter.should_request("a", 3, 4, 60000));
  // However many addresses turn, the network is asked once an interval.
  int asked = 0;
  for (int i = 0; i < 100000; ++i) asked += limiter.should_request(QString::number(i), 2, 4, 100000 + i / 10);
  EXPECT_EQ(asked, 3);
}

TEST(AddressRate, OneFloodingHostIsCutToItsRateOthersAreNot) {
  AddressRate rate(100, 200);  // per second, at once
  int flood = 0, other = 0;
  for (int ms = 0; ms < 1000; ++ms)
    for (int k = 0; k < 50; ++k) {
      flood += rate.admit("10.0.0.66", ms);
      if (k == 0 && ms % 10 == 0) other += rate.admit("10.0.0.7", ms);
    }
  EXPECT_NEAR(flood, 200 + 100, 2) << "the burst, then the rate";
  EXPECT_EQ(other, 100);
}

TEST_F(Players, CommandsAreConfirmedByFeedbackSentAgainAndGivenUp) {
  config.commands.first_wait_ms = 0;  // every tick is due
  config.commands.most_sends = 3;
  auto p = make();
  for (const char* id : {"A", "B", "C"}) p->udp_socket_did_receive(QByteArray::fromStdString(feedback(id, id)), "h");
  auto& list = p->ArrayController_DEVICES();
  list.select_rows({0, 1, 2});
  QStringList confirmed, failed;
  QObject::connect(p.get(), &UDP_Feedback::command_confirmed,
                   [&](const QString& id, int code) { confirmed << QString("%1|%2").arg(id).arg(code); });
  QObject::connect(p.get(), &UDP_Feedback::command_failed,
                   [&](const QString& id, int code) { failed << QString("%1|%2").arg(id).arg(code); });
  p->send_playlist(QVariantMap{{"id", 7}, {"name", "Lobby"}});
  EXPECT_EQ(commands(3), (QStringList{"A|4|7|Lobby", "B|4|7|Lobby", "C|4|7|Lobby"}));
  EXPECT_EQ(p->last_command(), "LOAD PLAYLIST: 0 of 3 confirmed");
  EXPECT_EQ(p->command_state("A"), "LOAD PLAYLIST pending");

  // A shows the list (downloading it), B in error with it does not.
  auto with_list = [](const char* id, int state) {
    return QByteArray::fromStdString(std::string(id) + "<v_OX_TANDEM>" + id + "<v_OX_TANDEM>" + std::to_string(state) +
                                     "<v_OX_TANDEM>1<v_OX_TANDEM>7<v_OX_TANDEM>t<v_OX_TANDEM>0<v_OX_TANDEM>0");
  };
  p->udp_socket_did_receive(with_list("A", 1), "h");
  p->udp_socket_did_receive(with_list("B", 4), "h");
  EXPECT_EQ(confirmed, QStringList{"A|4"});
  EXPECT_EQ(p->last_command(), "LOAD PLAYLIST: 1 of 3 confirmed");
  EXPECT_EQ(p->command_state("A"), "");

  EXPECT_EQ(commands(1), QStringList{"0|0"}) << "B turned to error";
  p->timer_check();  // B and C again
  EXPECT_EQ(commands(2), (QStringList{"B|4|7|Lobby", "C|4|7|Lobby"}));
  EXPECT_EQ(p->command_state("C"), "LOAD PLAYLIST pending, send 2");
  p->udp_socket_did_receive(with_list("C", 2), "h");
  p->timer_check();
  EXPECT_EQ(commands(1), QStringList{"B|4|7|Lobby"});
  p->timer_check();  // three sends: given up
  EXPECT_EQ(failed, QStringList{"B|4"});
  EXPECT_EQ(p->last_command(), "LOAD PLAYLIST: 2 of 3 confirmed, 1 failed");
  EXPECT_EQ(p->command_state("B"), "LOAD PLAYLIST failed, still sent") << "offered again once a minute";
  listener.set_timeout(200);
  EXPECT_FALSE(listener.receive().has_value()) << "nothing more for B";

  // A newer command of the same kind replaces the pending one; NEXT is
  // seen as the track's change; a command whose effect feedback cannot
  // show leaves once and is said to be so.
  list.select_rows({0});
  p->device_pause();
  p->device_play();
  p->device_next();
  EXPECT_EQ(commands(3), (QStringList{"A|2", "A|1", "A|8"}));
  EXPECT_EQ(p->command_state("A"), "PLAY pending; NEXT pending");
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "A")), "h");  // playing, track "3", was "t"
  EXPECT_EQ(confirmed.mid(confirmed.size() - 2), (QStringList{"A|1", "A|8"}));
  p->timer_check();
  EXPECT_FALSE(listener.receive().has_value());
  dialogs.alert_answers.push_back(1);
  p->device_clear_list();
  EXPECT_EQ(commands(1), QStringList{"A|7"});
  EXPECT_TRUE(p->last_command().startsWith("CLEAR LIST: sent to 1 player, not confirmable · LOAD PLAYLIST: 2 of 3 "
                                            "confirmed, 1 failed"))
      << "an earlier failure stays in view";

  // A NEXT given up is not confirmed by the track moving on by itself later.
  p->device_next();
  for (int i = 0; i < 3; ++i) p->timer_check();
  EXPECT_EQ(commands(3), (QStringList{"A|8", "A|8", "A|8"}));
  EXPECT_EQ(p->command_state("A"), "NEXT failed");
  p->udp_socket_did_receive(with_list("A", 2), "h");  // track "t", was "3"
  EXPECT_EQ(p->command_state("A"), "NEXT failed");

  // A player dark at the send has failed at once, not after a minute.
  list.set_value(1, "status_time", QDateTime::currentDateTime().addSecs(-60));
  list.select_rows({1});
  p->device_mute_on();
  EXPECT_EQ(failed.last(), "B|10");
  EXPECT_TRUE(p->command_state("B").endsWith("MUTE failed: offline, still sent")) << p->command_state("B").toStdString();
  EXPECT_TRUE(p->last_command().startsWith("MUTE: 0 of 1 confirmed, 1 failed")) << p->last_command().toStdString();
  // It was only unheard for a while: it gets the command yet, and counts.
  p->timer_check();
  EXPECT_EQ(commands(1), QStringList{"B|10"});
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("B", "B") + " "), "h");  // muted? not yet
  std::string muted = feedback("B", "B");
  muted.replace(muted.size() - 1, 1, "1");  // status_sound 1
  p->udp_socket_did_receive(QByteArray::fromStdString(muted), "h");
  EXPECT_TRUE(p->last_command().startsWith("MUTE: 1 of 1 confirmed")) << p->last_command().toStdString();
}

// A load given up is reported failed within its minute, and still offered
// now and then: on a lossy network the screen gets its list yet, and the
// tally then counts it confirmed.
TEST_F(Players, ALoadGivenUpIsStillOfferedUntilThePlayerTakesIt) {
  config.commands.first_wait_ms = 0;  // every tick is due
  config.commands.most_sends = 2;
  config.commands.late_wait_ms = 0;
  auto p = make();
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "A")), "h");
  p->ArrayController_DEVICES().select_rows({0});
  p->send_playlist(QVariantMap{{"id", 7}, {"name", "Lobby"}});
  p->timer_check();
  EXPECT_EQ(commands(2), (QStringList{"A|4|7|Lobby", "A|4|7|Lobby"}));
  p->timer_check();  // given up: said, not sent
  EXPECT_EQ(p->last_command(), "LOAD PLAYLIST: 0 of 1 confirmed, 1 failed");
  EXPECT_EQ(p->command_state("A"), "LOAD PLAYLIST failed, still sent");
  p->timer_check();
  EXPECT_EQ(commands(1), QStringList{"A|4|7|Lobby"}) << "offered again";
  p->udp_socket_did_receive(QByteArray::fromStdString("A<v_OX_TANDEM>A<v_OX_TANDEM>2<v_OX_TANDEM>1<v_OX_TANDEM>7"
                                                      "<v_OX_TANDEM>t<v_OX_TANDEM>0<v_OX_TANDEM>0"), "h");
  EXPECT_EQ(p->last_command(), "LOAD PLAYLIST: 1 of 1 confirmed");
  EXPECT_EQ(p->command_state("A"), "");
}

// NEXT to a player whose list has one track changes nothing to see: sent
// once, and said so, not reported failed a minute later.
TEST_F(Players, NextToAListOfOneTrackIsSentOnceNotConfirmable) {
  config.commands.first_wait_ms = 0;  // every tick is due
  auto p = make();
  p->set_track_count([](const QString& id, const QVariant&) { return id == "ONE" ? 1 : -1; });
  for (const char* id : {"ONE", "MANY"}) p->udp_socket_did_receive(QByteArray::fromStdString(feedback(id, id)), "h");
  p->ArrayController_DEVICES().select_rows({0, 1});
  p->device_next();
  EXPECT_EQ(commands(2), (QStringList{"ONE|8", "MANY|8"}));
  EXPECT_EQ(p->last_command(), "NEXT: 0 of 2 confirmed, 1 not confirmable (one track)");
  p->timer_check();
  EXPECT_EQ(commands(1), QStringList{"MANY|8"}) << "only the one that can show it is sent again";
}

// A player downloading the list it was sent is working on it: the load is
// not sent again (which would start the download over) while it says so,
// and a web stream is confirmed by the track that becomes its address.
TEST_F(Players, APlayerDownloadingItsListIsWaitedForNotSentItAgain) {
  config.commands.first_wait_ms = 0;  // every tick is due
  auto p = make();
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "A")), "h");
  p->ArrayController_DEVICES().select_rows({0});
  p->send_playlist(QVariantMap{{"id", 9}, {"name", "Big"}});
  EXPECT_EQ(commands(1), QStringList{"A|4|9|Big"});
  auto state = [](int device, const char* list, const char* track) {
    return QByteArray::fromStdString("A<v_OX_TANDEM>A<v_OX_TANDEM>" + std::to_string(device) + "<v_OX_TANDEM>1<v_OX_TANDEM>" +
                                     list + "<v_OX_TANDEM>" + track + "<v_OX_TANDEM>0<v_OX_TANDEM>0");
  };
  listener.set_timeout(200);
  for (int i = 0; i < 10; ++i) {
    p->udp_socket_did_receive(state(i % 2 ? 1 : 3, "7", i % 2 ? "x" : "y"), "h");  // the old list, downloading
    p->timer_check();
    EXPECT_FALSE(listener.receive().has_value()) << "no resend while it downloads, round " << i;
  }
  EXPECT_EQ(p->command_state("A"), "LOAD PLAYLIST downloading");
  p->udp_socket_did_receive(state(2, "9", "a.mp4"), "h");
  EXPECT_EQ(p->command_state("A"), "");
  dialogs.prompt_answers.push_back(QString("http://tv.invalid/live.m3u8"));
  p->sendM3U8();
  EXPECT_EQ(commands(1), QStringList{"A|12|http://tv.invalid/live.m3u8"});
  p->timer_check();
  EXPECT_EQ(commands(1), QStringList{"A|12|http://tv.invalid/live.m3u8"}) << "not shown yet: sent again";
  p->udp_socket_did_receive(state(2, "9", "http://tv.invalid/live.m3u8"), "h");
  EXPECT_EQ(p->command_state("A"), "");
  EXPECT_EQ(p->last_command(), "WEB STREAM: 1 of 1 confirmed");
}

TEST_F(Players, DuplicateIdsFromTestDevicesAreNeverUpdated) {
  auto p = make();
  p->create_test_devices();
  p->create_test_devices();
  ASSERT_EQ(p->ArrayController_DEVICES().size(), 20);
  EXPECT_EQ(p->ArrayController_DEVICES().at(3)["device_name"].toString(), "TEST_NAME_03");
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("TEST_03", "new")), "h");
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 20);
  EXPECT_EQ(p->ArrayController_DEVICES().at(3)["device_name"].toString(), "TEST_NAME_03");
}

TEST_F(Players, CommandsGoToSelectedPlayersInDisplayOrder) {
  auto p = make();
  p->sort_table();
  for (auto [id, name] : {std::pair{"c", "Charlie"}, {"a", "alpha"}, {"b", "Bravo"}})
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback(id, name)), "h");
  auto& list = p->ArrayController_DEVICES();
  p->device_play();  // nothing selected: nothing sent
  list.select_rows({0, 1, 2});
  p->device_play();
  EXPECT_EQ(commands(3), (QStringList{"a|1", "b|1", "c|1"}));

  p->changeName();  // several selected: nothing
  list.select_rows({1});
  dialogs.prompt_answers.push_back(QString("New<v_OX_TANDEM>Name"));
  p->changeName();  // refused: would be split by the players
  EXPECT_EQ(dialogs.alert_messages().last(), "The text must not contain <v_OX_TANDEM>");
  dialogs.prompt_answers.push_back(QString("Lobby 2"));
  p->changeName();
  EXPECT_EQ(commands(1), QStringList{"b|3|Lobby 2"});
  EXPECT_EQ(dialogs.shown.back().detail, "Bravo");
  EXPECT_EQ(dialogs.shown.back().width, 200);
  EXPECT_EQ(list.row(1)["device_name"].toString(), "Bravo") << "the name changes with the player's feedback";

  p->send_playlist(QVariantMap{{"id", 12}, {"name", "Lobby"}, {"movielist", QByteArray()}});
  p->send_playlist(QVariantMap{{"id", 3}, {"name", "Week"}, {"tasklist", QVariantList{}}});
  EXPECT_EQ(commands(2), (QStringList{"b|4|12|Lobby", "b|14|3|Week"}));

  dialogs.prompt_answers.push_back(QString(" "));
  p->sendM3U8();  // refused: the players would have nothing to play
  EXPECT_EQ(dialogs.alert_messages().last(), "The web address must not be empty.");
  for (const char* bad : {"", "  ", "Two\nlines"}) {
    dialogs.prompt_answers.push_back(QString(bad));
    p->changeName();
    EXPECT_EQ(dialogs.alert_messages().last(), "The name must not be empty or blank, or span several lines.");
  }
  dialogs.prompt_answers.push_back(QString("http://tv.invalid/live.m3u8"));
  p->sendM3U8();
  EXPECT_EQ(commands(1), QStringList{"b|12|http://tv.invalid/live.m3u8"});
  p->sendM3U8();  // cancelled
  listener.set_timeout(200);
  EXPECT_FALSE(listener.receive().has_value());
}

// More players than a screen shows are commanded only once the operator
// confirms, told how many.
TEST_F(Players, AFleetIsCommandedOnlyWhenConfirmed) {
  auto p = make();
  for (int i = 0; i < UDP_Feedback::kScreenful + 5; ++i)
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("P" + std::to_string(i), "n")), "h");
  auto& list = p->ArrayController_DEVICES();
  QList<int> all;
  for (int i = 0; i < list.size(); ++i) all << i;
  list.select_rows(all);
  listener.set_timeout(200);
  dialogs.alert_answers.push_back(0);  // Cancel
  p->device_pause();
  EXPECT_EQ(dialogs.alert_messages().last(), QString("PAUSE to %1 players?").arg(list.size()));
  EXPECT_TRUE(commands(1).isEmpty());
  dialogs.alert_answers.push_back(1);
  p->device_pause();
  EXPECT_EQ(commands(list.size()).size(), list.size());
}

TEST_F(Players, RefreshListsSavesAllFirstThenSpacesTheDatagrams) {
  auto p = make();
  p->refresh_lists();  // no selection: still posts and rebuilds
  EXPECT_EQ(save_all_posts, 1);
  for (const char* id : {"a", "b", "c", "d"})
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback(id, id)), "h");
  p->ArrayController_DEVICES().select_rows({0, 1, 2, 3});
  QElapsedTimer t;
  t.start();
  p->refresh_lists();
  EXPECT_EQ(save_all_posts, 2);
  test::spin_for(80);
  EXPECT_GE(t.elapsed(), 30);
  EXPECT_EQ(commands(4), (QStringList{"a|15", "b|15", "c|15", "d|15"}));
}

TEST_F(Players, RefreshListsLeavesOnlyAfterTheSaveAllIsWritten) {
  auto p = make();
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("a", "a")), "h");
  p->ArrayController_DEVICES().select_rows({0});
  // A save-all that hands a file to a slow writer, as the editors do.
  const QString file = home() + "/PLAYLIST_ID_1.SAV";
  bus.register_observer(&listener, note::SAVE_ALL_LISTS, [&](const QVariant&) {
    BackgroundWriter::instance().submit_bytes(file, [] { return QByteArray("written"); }, {});
  });
  BackgroundWriter::instance().set_delay_for_tests(300);
  p->refresh_lists();
  bool file_there_at_send = false;
  for (int i = 0; i < 100 && !listener.receive_ready(); ++i) test::spin_for(10);
  file_there_at_send = QFile::exists(file);
  BackgroundWriter::instance().set_delay_for_tests(0);
  bus.unregister(&listener);
  EXPECT_EQ(commands(1), QStringList{"a|15"});
  EXPECT_TRUE(file_there_at_send);
}

TEST_F(Players, BackgroundImageIsCheckedBeforeAnythingIsSent) {
  auto p = make();
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "a")), "h");
  p->ArrayController_DEVICES().select_rows({0});
  const auto add_image = [&](const QString& name, QSize size) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::black);
    const QString path = home() + "/" + name;
    img.save(path, name.endsWith("png", Qt::CaseInsensitive) ? "PNG" : "JPG");
    content.set_records({{{"file_url", QUrl::fromLocalFile(path)}}});
    content.select_rows({0});
  };
  p->set_as_new_background_pic();
  EXPECT_EQ(dialogs.alert_messages().last(), "Please select one file in the content list");
  add_image("plan.jpeg", {1920, 1080});
  p->set_as_new_background_pic();
  EXPECT_EQ(dialogs.alert_messages().last(), "Please select a file with the extension png or jpg");
  add_image("tall.png", {1920, 1200});
  p->set_as_new_background_pic();
  EXPECT_EQ(dialogs.alert_messages().last(), "the image is not in the right dimensions: height is not 1080");
  add_image("both.png", {800, 600});
  p->set_as_new_background_pic();
  EXPECT_EQ(dialogs.alert_messages().last(), "the image is not in the right dimensions: width is not 1920");
  const int alerts = dialogs.alert_messages().size();
  add_image("Floor Plan.JPG", {1920, 1080});
  p->set_as_new_background_pic();
  EXPECT_EQ(dialogs.alert_messages().size(), alerts);
  EXPECT_EQ(commands(1), QStringList{"A|17|Floor Plan.JPG"});
  EXPECT_TRUE(log().contains("IMAGE_SIZE:  1920.000000 | 1080.000000"));
  EXPECT_TRUE(log().contains("BG IMAGE SEND ERFOLGT"));

  // The size is read from the header alone, which may be cut anywhere.
  for (const char* name : {"Floor Plan.JPG", "both.png"}) {
    QFile file(home() + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    const auto size = picture_size(whole);
    ASSERT_TRUE(size) << name;
    for (qsizetype n = 0; n < std::min<qsizetype>(whole.size(), 4096); ++n) {
      const auto cut = picture_size(whole.left(n));
      EXPECT_TRUE(!cut || *cut == *size) << name << " cut at " << n;
    }
  }
  EXPECT_FALSE(picture_size(QByteArray("\xFF\xD8\xFF\xC0\x00\x01", 6)));
}

TEST_F(Players, RemoveAllAsksNamingItSavesAnEmptyRegistryAndIsUndone) {
  undo_history().clear();
  auto p = make();
  p->create_test_devices();
  p->ArrayController_DEVICES().set_value(3, "device_name", "Bar");
  dialogs.alert_answers.push_back(0);  // Cancel
  p->remove_devices();
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 10);
  EXPECT_EQ(dialogs.shown.back().message, "Remove all 10 players from the list?");
  EXPECT_EQ(dialogs.shown.back().items, (QStringList{"Cancel", "Remove all"}));
  EXPECT_EQ(dialogs.shown.back().default_button, 0) << "Return keeps the players";
  dialogs.alert_answers.push_back(1);
  p->remove_devices();
  EXPECT_TRUE(p->ArrayController_DEVICES().empty());
  BackgroundWriter::instance().wait_idle(10000);
  for (const QString& path : {application_folder() + "/tavri_AV_SERVER_DATA.sav",
                              app_support_folder() + "/temp/tmp_34_56_3234.temp"}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    EXPECT_TRUE(decode_archive(f.readAll())->value("SPEICHER").toList().isEmpty());
  }
  // One of them is heard again meanwhile: the undo gives it back its name
  // and brings back the others, once.
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("TEST_03", "unnamed")), "127.0.0.1");
  ASSERT_EQ(p->ArrayController_DEVICES().size(), 1);
  undo_history().undo();
  const RecordList& back = p->ArrayController_DEVICES();
  ASSERT_EQ(back.size(), 10);
  int named = 0;
  for (int i = 0; i < back.size(); ++i) named += back.at(i).value("device_name").toString() == "Bar";
  EXPECT_EQ(named, 1);
  EXPECT_FALSE(undo_history().canUndo());
}

TEST_F(Players, CommandsThatUndoThePlayersWorkAskFirstNamingThem) {
  auto p = make();
  for (const char* id : {"A", "B"}) p->ArrayController_DEVICES().append({{"device_id", id}, {"device_name", id}});
  p->ArrayController_DEVICES().select_rows({0, 1});
  p->reset_device();  // Cancel, the default
  p->device_clear_content();
  p->device_clear_list();
  p->remove_device_single();
  ASSERT_EQ(dialogs.alert_messages(),
            (QStringList{"Reset 2 players?", "Delete all content of 2 players?", "Clear the list of 2 players?",
                         "Remove 2 players from the list?"}));
  EXPECT_EQ(dialogs.shown[0].detail, "A, B");
  EXPECT_EQ(dialogs.shown[0].items, (QStringList{"Cancel", "Reset"}));
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 2);

  dialogs.alert_answers.push_back(1);
  p->reset_device();
  EXPECT_EQ(commands(2), (QStringList{"A|16", "B|16"})) << "the first commands to leave";
  p->ArrayController_DEVICES().select_rows({0});
  dialogs.alert_answers.push_back(1);
  p->remove_device_single();
  EXPECT_EQ(dialogs.alert_messages().last(), "Remove the player \"A\" from the list?");
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 1);
}

TEST_F(Players, SaveAndLoadUseTheWorkingCopy) {
  {
    auto p = make();
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "zulu")), "::ffff:10.1.2.3");
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("B", "Alpha")), "h");
    p->ArrayController_DEVICES().set_value(0, "ICON", QVariant::fromValue(MapIcon{QRectF(5, 6, 70, 50), "zulu", {}}));
    p->map_state().frame = QRectF(100, 100, 800, 600);
    p->map_state().scale = 1.3f;
    p->map_state().origin = QPointF(0, 12.5);
    p->save();
  }
  BackgroundWriter::instance().wait_idle(10000);
  auto p = make();
  p->load();
  auto& list = p->ArrayController_DEVICES();
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list.at(0)["device_id"].toString(), "A") << "list order is saved order";
  EXPECT_EQ(list.at(0)["device_ip"].toString(), "10.1.2.3");
  EXPECT_EQ(list.at(0)["ICON"].value<MapIcon>().frame, QRectF(5, 6, 70, 50));
  EXPECT_EQ(list.selected_records().first()["device_name"].toString(), "Alpha") << "first in display order";
  EXPECT_EQ(p->map_state().frame, QRectF(100, 100, 800, 600));
  EXPECT_FLOAT_EQ(p->map_state().scale, 1.3f);

  // A backup of the application folder restored into a fresh home: the
  // players come back from it, and the next save writes both files again.
  const QString working = app_support_folder() + "/temp/tmp_34_56_3234.temp";
  QFile::remove(working);
  p->load();
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list.at(0)["ICON"].value<MapIcon>().frame, QRectF(5, 6, 70, 50));
  p->save();
  BackgroundWriter::instance().wait_idle(10000);
  EXPECT_TRUE(QFile::exists(working));

  // Both present: the newer by content wins, whichever file holds it.
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("C", "newest")), "h");
  p->save();
  BackgroundWriter::instance().wait_idle(10000);
  QFile::copy(application_folder() + "/tavri_AV_SERVER_DATA.sav", working + ".new");
  p->ArrayController_DEVICES().remove_at(2);
  p->ArrayController_DEVICES().set_value(0, "status_time", QDateTime::currentDateTime().addDays(-1));
  p->ArrayController_DEVICES().set_value(1, "status_time", QDateTime::currentDateTime().addDays(-1));
  p->save();
  BackgroundWriter::instance().wait_idle(10000);
  QFile::remove(application_folder() + "/tavri_AV_SERVER_DATA.sav");
  QFile::rename(working + ".new", application_folder() + "/tavri_AV_SERVER_DATA.sav");
  p->load();
  EXPECT_EQ(list.size(), 3) << "the application folder's copy is newer";
  QFile::remove(application_folder() + "/tavri_AV_SERVER_DATA.sav");
  QFile::remove(working);
  p->load();
  EXPECT_TRUE(list.empty()) << "nothing saved: nothing loaded";
}

TEST_F(Players, OnlineRuleAndDisplayTransformers) {
  const QDateTime now = QDateTime::currentDateTime();
  EXPECT_TRUE(players::is_online({{"status_time", now.addMSecs(-8000)}}, now));
  EXPECT_FALSE(players::is_online({{"status_time", now.addMSecs(-8001)}}, now));
  EXPECT_FALSE(players::is_online({}, now));
  EXPECT_EQ(players::Device_Status(0), "WAITING FOR PLAYLIST");
  EXPECT_EQ(players::Device_Status(3), "NEW PLAYLIST");
  EXPECT_EQ(players::Device_Status(7), "DEVICE ERROR");
  EXPECT_EQ(players::Device_Status(-1), "DEVICE ERROR");
  EXPECT_EQ(players::Device_Status(QVariant()), "DEVICE ERROR");
  EXPECT_EQ(players::Player_Status(3), "tavri_icon_attention");
  EXPECT_EQ(players::Player_Status(9), "Icon_pause");
  EXPECT_EQ(players::Menue_Status(1), "icon_menue");
  EXPECT_EQ(players::Menue_Status(2), "icon_menue_leer");
  EXPECT_EQ(players::Sound_Status(1), "tavri_mute");
  EXPECT_EQ(players::Sound_Status(QVariant()), "tavri_sound_on");
}

TEST_F(Players, ABurstOfNewPlayersGivesOneMapRebuild) {
  auto p = make();
  int rebuilds = 0;
  QObject::connect(p.get(), &UDP_Feedback::reload_map_requested, [&] { ++rebuilds; });
  for (int i = 0; i < 1000; ++i)
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("P" + std::to_string(i), "screen")), "10.0.0.1");
  EXPECT_EQ(p->ArrayController_DEVICES().size(), 1000);
  EXPECT_EQ(rebuilds, 0) << "merged into the next turn of the main loop";
  test::spin_for(50);
  EXPECT_EQ(rebuilds, 1);
}

TEST_F(Players, ACommandThatCannotLeaveIsToldOnceAndFeedbackKeepsFlowing) {
  config.command_port = 0;  // nothing can be sent there
  auto p = make();
  for (const char* id : {"A", "B", "C"})
    p->ArrayController_DEVICES().append(
        {{"device_id", id}, {"device_name", id}, {"status_time", QDateTime::currentDateTime()}});
  p->ArrayController_DEVICES().select_rows({0, 1, 2});
  QStringList lines;
  QObject::connect(p.get(), &UDP_Feedback::last_command_changed, [&](const QString& t) { lines << t; });
  p->device_play();  // three datagrams
  EXPECT_EQ(p->last_command(), "PLAY: 0 of 3 confirmed");
  p->device_pause();  // three more
  ASSERT_TRUE(test::spin_until([&] { return !log().filter("COMMANDS CANNOT REACH THE PLAYERS").isEmpty(); }));
  // The line at the window's foot does not pretend the command went out.
  EXPECT_TRUE(p->last_command().startsWith("PAUSE not sent: ")) << p->last_command().toStdString();
  EXPECT_TRUE(lines.contains("PAUSE: 0 of 3 confirmed"));
  test::spin_for(200);
  EXPECT_EQ(dialogs.alert_messages(), QStringList{"Commands cannot reach the players."});
  EXPECT_EQ(log().filter("COMMANDS CANNOT REACH THE PLAYERS").size(), 1);
  EXPECT_TRUE(log().filter("UDP SOCKET CLOSED").isEmpty());
  for (int i = 0; i < 20; ++i) sender.send_to(p->feedback_port(), feedback(QString("N%1").arg(i).toStdString(), "new"));
  EXPECT_TRUE(test::spin_until([&] { return p->ArrayController_DEVICES().size() == 23; }));
}

TEST_F(Players, SecondInstanceCannotBindAndSaysSo) {
  auto first = make();
  config.feedback_port = first->feedback_port();
  auto second = make();
  EXPECT_TRUE(log().contains("UDP PORT NOT BIND"));
  EXPECT_TRUE(log().contains("UDP CONNECTION ERROR"));
  EXPECT_EQ(dialogs.alert_messages(), QStringList{"Sorry, can't open udp ports"});
}

TEST_F(Players, IdsGoBackByteForByteAndTheRegistryIsBounded) {
  auto p = make();
  const std::string bom_id = "\xEF\xBB\xBFP1";
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback(bom_id, "screen")), "h");
  p->ArrayController_DEVICES().select_rows({0});
  p->device_play();
  const auto sent = listener.receive();
  ASSERT_TRUE(sent);
  EXPECT_EQ(*sent, bom_id + std::string(wire::kSeparator) + "1") << "the byte-order mark goes back to the player";

  // A name with the field separator is refused before anything is sent.
  p->send_playlist(QVariantMap{{"id", 1}, {"name", "A<v_OX_TANDEM>B"}});
  EXPECT_EQ(dialogs.alert_messages().size(), 1);
  listener.set_timeout(200);
  EXPECT_FALSE(listener.receive().has_value());

}

// A registry at its cap: "<prefix>0", "<prefix>1", ..., player i last heard ms_ago(i) ago.
RecordArray full_registry(const QString& prefix, const std::function<qint64(int)>& ms_ago) {
  const QDateTime now = QDateTime::currentDateTime();
  RecordArray players;
  for (int i = 0; i < UDP_Feedback::kMaxPlayers; ++i)
    players.append({{"device_id", prefix + QString::number(i)}, {"status_time", now.addMSecs(-ms_ago(i))}});
  return players;
}

TEST_F(Players, AFullRegistryGivesUpStrangersNeverTheOperatorsPlayers) {
  auto p = make();
  auto& list = p->ArrayController_DEVICES();
  list.set_records(full_registry("X", [](int i) { return i * 1000LL; }));
  // The oldest strangers are the operator's: commanded, placed on the map.
  list.select_list_indices({UDP_Feedback::kMaxPlayers - 1});
  p->device_play();
  p->mark_operator_player(QString("X%1").arg(UDP_Feedback::kMaxPlayers - 2));
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("REAL", "lobby")), "h");
  EXPECT_EQ(list.size(), UDP_Feedback::kMaxPlayers - UDP_Feedback::kMaxPlayers / 10 + 1);
  auto has = [&](const QString& id) {
    for (int i = 0; i < list.size(); ++i)
      if (list.at(i)["device_id"] == id) return true;
    return false;
  };
  EXPECT_TRUE(has("REAL"));
  EXPECT_TRUE(has(QString("X%1").arg(UDP_Feedback::kMaxPlayers - 1))) << "commanded by the operator";
  EXPECT_TRUE(has(QString("X%1").arg(UDP_Feedback::kMaxPlayers - 2))) << "placed by the operator";
  EXPECT_FALSE(has(QString("X%1").arg(UDP_Feedback::kMaxPlayers - 3))) << "the longest silent stranger";
  EXPECT_TRUE(has("X0")) << "the most recently heard stay";

  // All the operator's: refused, counted, and one alert per burst.
  for (int i = 0; i < list.size(); ++i) p->mark_operator_player(list.at(i)["device_id"].toString());
  for (int i = 0; i < UDP_Feedback::kMaxPlayers; ++i) p->mark_operator_player(QString("O%1").arg(i));
  list.set_records(full_registry("O", [](int) { return 3600000LL; }));
  for (int i = 0; i < 5; ++i) p->udp_socket_did_receive(QByteArray::fromStdString(feedback("F" + std::to_string(i), "n")), "h");
  EXPECT_EQ(list.size(), UDP_Feedback::kMaxPlayers);
  p->timer_check();
  EXPECT_EQ(dialogs.alert_messages(), QStringList{"The player list is full: 5 new players were not added."});
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("F9", "n")), "h");
  p->timer_check();  // the same burst: logged, not alerted again
  EXPECT_EQ(dialogs.alert_messages().size(), 1);
  EXPECT_TRUE(log().contains("REGISTRY FULL: 1 new players refused"));
  p->timer_check();  // a quiet interval ends the burst
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("F10", "n")), "h");
  p->timer_check();
  EXPECT_EQ(dialogs.alert_messages().size(), 2);
}

// A host at another address answering in a player's name: flagged, said
// once, and not taken, so a dead player goes offline and a command it never
// got is not confirmed; the operator's acceptance makes the move.
TEST_F(Players, AForgerAtAnotherAddressIsNoticedAndNotBelieved) {
  auto p = make();
  auto& list = p->ArrayController_DEVICES();
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "Lobby")), "10.0.0.5");
  list.select_rows({0});
  p->device_pause();  // the feedback shows status_player 1: not yet
  listener.set_timeout(200);
  commands(1);
  // The real player dies; the forger answers for it, "paused", every time.
  list.set_value(0, "status_time", QDateTime::currentDateTime().addSecs(-30));
  for (int i = 0; i < 3; ++i) {
    const std::string forged = feedback("A", "Lobby") + std::string(i, ' ');
    std::string paused = forged;
    paused.replace(paused.find("<v_OX_TANDEM>1<v_OX_TANDEM>"), 27, "<v_OX_TANDEM>0<v_OX_TANDEM>");
    p->udp_socket_did_receive(QByteArray::fromStdString(paused), "10.0.0.66");
  }
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("A", "Lobby", 4)), "10.0.0.66");
  EXPECT_FALSE(listener.receive().has_value()) << "its error asks the network nothing";
  EXPECT_FALSE(players::is_online(list.at(0))) << "the dead player stays offline";
  EXPECT_EQ(p->command_state("A"), "PAUSE pending") << "nothing confirmed by the forger";
  EXPECT_EQ(list.at(0)["device_ip"].toString(), "10.0.0.5");
  EXPECT_EQ(list.at(0)[UDP_Feedback::kClaimedAddressKey].toString(), "10.0.0.66");
  EXPECT_EQ(dialogs.alert_messages(), QStringList{"The player \"A\" was heard from another address."});
  EXPECT_TRUE(dialogs.shown.back().detail.contains("10.0.0.5") && dialogs.shown.back().detail.contains("10.0.0.66"));

  // The operator accepts the move: reports from there count from now on.
  EXPECT_FALSE(p->accept_address("B").ok());
  list.select_rows({0});
  dialogs.alert_answers.push_back(1);
  p->accept_selected_addresses();  // the window's way, after asking
  EXPECT_TRUE(dialogs.shown.back().detail.startsWith("\"Lobby\": 10.0.0.66 instead of 10.0.0.5"));
  EXPECT_FALSE(p->accept_address("A").ok()) << "nothing left to accept";
  std::string paused = feedback("A", "Lobby");
  paused.replace(paused.find("<v_OX_TANDEM>1<v_OX_TANDEM>"), 27, "<v_OX_TANDEM>0<v_OX_TANDEM>");
  p->udp_socket_did_receive(QByteArray::fromStdString(paused), "10.0.0.66");
  EXPECT_TRUE(players::is_online(list.at(0)));
  EXPECT_EQ(p->command_state("A"), "");
}

// An id heard once (an invented one) is never saved; a player that
// reports again is.
TEST_F(Players, AnIdHeardOnlyOnceIsNotSaved) {
  config.heard_again_ms = 1500;
  {
    auto p = make();
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("REAL", "r")), "h");
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("INVENTED", "i")), "h");
    test::spin_for(1600);
    p->udp_socket_did_receive(QByteArray::fromStdString(feedback("REAL", "r", 1)), "h");
    p->save();
  }
  BackgroundWriter::instance().wait_idle(10000);
  auto p = make();
  p->load();
  ASSERT_EQ(p->ArrayController_DEVICES().size(), 1);
  EXPECT_EQ(p->ArrayController_DEVICES().at(0)["device_id"].toString(), "REAL");
}

// A registry at its cap of live players: a newcomer is refused, and no
// player heard within the online rule makes room for it.
TEST_F(Players, ALivePlayerIsNeverPushedOutOfAFullRegistry) {
  auto p = make();
  auto& list = p->ArrayController_DEVICES();
  list.set_records(full_registry("L", [](int i) { return i % 7000; }));
  p->udp_socket_did_receive(QByteArray::fromStdString(feedback("NEW", "n")), "h");
  EXPECT_EQ(list.size(), UDP_Feedback::kMaxPlayers);
  EXPECT_EQ(list.at(0)["device_id"].toString(), "L0");
  p->timer_check();
  EXPECT_EQ(dialogs.alert_messages(), QStringList{"The player list is full: 1 new players were not added."});
}

// A background announcement gives each player back the background this
// server last gave it; one given none keeps the announced one. What each
// had is kept across a restart of the server.
TEST_F(Players, ABackgroundAnnouncementGivesBackEachPlayersOwn) {
  auto p = make();
  for (const char* id : {"A", "B"}) p->udp_socket_did_receive(QByteArray::fromStdString(feedback(id, id)), "h");
  auto image = [&](const QString& name) {
    QImage img(QSize(1920, 1080), QImage::Format_RGB32);
    img.fill(Qt::black);
    img.save(home() + "/" + name, "PNG");
    return home() + "/" + name;
  };
  ASSERT_TRUE(p->set_background(image("own.png"), {"A"}).ok());
  commands(1);
  const QString path = home() + "/announcement.json";
  {
    Announcement a(*p, [](bool, qint64) { return std::nullopt; }, path);
    Announcement::Content closed;
    closed.background = image("closed.png");
    closed.label = "background closed.png";
    ASSERT_TRUE(a.start(closed, {"A", "B"}, {"all"}, 0).ok());
    EXPECT_EQ(commands(2), (QStringList{"A|17|closed.png", "B|17|closed.png"}));
    ASSERT_TRUE(BackgroundWriter::instance().wait_idle(60000));
  }
  Announcement again(*p, [](bool, qint64) { return std::nullopt; }, path);
  again.load();
  ASSERT_TRUE(again.running());
  ASSERT_TRUE(again.end().ok());
  EXPECT_EQ(commands(1), (QStringList{"A|17|own.png"}));
  listener.set_timeout(200);
  EXPECT_FALSE(listener.receive()) << "B had no background of ours: it keeps this one";
  EXPECT_FALSE(again.end().ok()) << "none runs";
}
