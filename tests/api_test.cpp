#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <future>
#include <thread>

#include "api/api_service.h"
#include "api/player_query.h"
#include "api/api_token.h"
#include "app/controllers.h"
#include "app/server_config.h"
#include "core/catalogue_file.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/state_archive.h"
#include "avctl/api_client.h"
#include "players/net/wire_protocol.h"
#include "support/event_loop.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"
#include "support/udp_peer.h"

using namespace tavri;

namespace {

const std::string kToken(64, 'a');

class Api : public test::TestHome {
 protected:
  void SetUp() override {
    TestHome::SetUp();
    net.feedback_port = 0;
    net.command_host = "127.0.0.1";
    net.command_port = players_side.port();
    c = std::make_unique<Controllers>(bus, dialogs, net);
    api::ServerConfig config;
    config.port = 0;
    config.token = kToken;
    config.body_limit = 4096;
    config.upload_limit = UINT64_MAX;
    config.web = std::make_shared<api::WebLogin>(std::make_shared<api::Accounts>((home() + "/accounts.json").toStdString()));
    service = std::make_unique<ApiService>(*c, config);
    QString error;
    ASSERT_TRUE(service->start(error)) << error.toStdString();
    // Two players, as their feedback made them.
    for (const char* id : {"P1", "P2"}) {
      const std::string sep(wire::kSeparator);
      const std::string bytes = std::string(id) + sep + "Screen " + id + sep + "2" + sep + "1" + sep + "---" + sep +
                                "---" + sep + "0" + sep + "0";
      c->udp_feedback.udp_socket_did_receive(QByteArray::fromStdString(bytes), "127.0.0.1");
    }
    c->playlists.append_and_select({{"name", "Lobby"}, {"id", 7}});
  }
  void TearDown() override {
    service.reset();
    c.reset();
    TestHome::TearDown();
  }

  // A reply, waited for while this thread runs the main loop; the deadline
  // is a sanitizer build's on a busy machine.
  template <typename T>
  static T answered(std::future<T>& reply) {
    EXPECT_TRUE(test::spin_until([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                 120000));
    return reply.get();
  }
  // The request runs on its own thread while this one runs the main loop.
  avctl::Reply call(const std::string& method, const std::string& target, const std::string& body = {},
                    const std::string& token = kToken, const std::string& if_match = {}) {
    avctl::ApiClient client("127.0.0.1", std::to_string(service->port()), token);
    client.set_if_match(if_match);
    auto reply = std::async(std::launch::async, [&] { return client.call(method, target, body); });
    return answered(reply);
  }
  // The bytes, written to a file and sent whole to `route`, as tavri-avctl sends one.
  avctl::Reply send_file(const std::string& route, const QByteArray& bytes) {
    const QString file = home() + "/upload.bin";
    QFile out(file);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    out.close();
    avctl::ApiClient client("127.0.0.1", std::to_string(service->port()), kToken);
    auto reply = std::async(std::launch::async, [&] { return client.upload(route, file.toStdString(), [](auto, auto) {}); });
    return answered(reply);
  }
  QJsonObject object(const avctl::Reply& r) { return QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object(); }
  // Every command datagram the players side got.
  std::vector<std::string> received() {
    std::vector<std::string> all;
    players_side.set_timeout(200);
    while (auto d = players_side.receive()) all.push_back(*d);
    return all;
  }

  Bus bus;
  test::ScriptedDialogs dialogs;
  test::UdpPeer players_side;
  PlayerNetworkConfig net;
  std::unique_ptr<Controllers> c;
  std::unique_ptr<ApiService> service;
};

}  // namespace

TEST_F(Api, EveryRouteButTheHealthChecksNeedsTheToken) {
  EXPECT_EQ(call("GET", "/healthz", {}, "").status, 200);
  EXPECT_EQ(call("GET", "/readyz", {}, "").status, 503);  // no folder is served yet
  EXPECT_EQ(call("GET", "/api/players", {}, "").status, 401);
  EXPECT_EQ(call("GET", "/api/players", {}, std::string(64, 'b')).status, 401);
  EXPECT_EQ(call("GET", "/api/players", {}, kToken.substr(1)).status, 401);
  EXPECT_EQ(call("POST", "/api/commands", R"({"command":"pause","players":"all"})", "").status, 401);
  EXPECT_TRUE(received().empty());
  EXPECT_EQ(service->counters().unauthorized, 4u);

  const auto players = call("GET", "/api/players");
  ASSERT_EQ(players.status, 200);
  const QJsonArray list = QJsonDocument::fromJson(QByteArray::fromStdString(players.body)).array();
  ASSERT_EQ(list.size(), 2);
  EXPECT_EQ(list[0].toObject()["name"].toString(), "Screen P1");
  EXPECT_TRUE(list[0].toObject()["online"].toBool());

  // A page at a time by id, only the fields asked for, compact, filtered.
  const auto doc = [&](const std::string& target) { return QJsonDocument::fromJson(QByteArray::fromStdString(call("GET", target).body)); };
  const QJsonObject first = doc("/api/players?fields=id,state&limit=1").object();
  EXPECT_EQ(first["total"].toInt(), 2);
  EXPECT_EQ(first["next"].toString(), "P1");
  EXPECT_EQ(first["players"].toArray(), (QJsonArray{QJsonObject{{"id", "P1"}, {"state", "READY"}}}));
  const QJsonObject second = doc("/api/players?fields=id&limit=1&cursor=P1").object();
  EXPECT_EQ(second["players"].toArray(), (QJsonArray{QJsonObject{{"id", "P2"}}}));
  EXPECT_TRUE(second["next"].isNull());
  const QJsonObject compact = doc("/api/players?format=compact&fields=id,online&q=screen%20p2").object();
  EXPECT_EQ(compact["fields"].toArray(), (QJsonArray{"id", "online"}));
  EXPECT_EQ(compact["players"].toArray(), (QJsonArray{QJsonArray{"P2", true}}));
  EXPECT_EQ(doc("/api/players?state=offline").array().size(), 0);
  ASSERT_EQ(call("POST", "/api/groups", R"({"name":"Hall"})").status, 201);
  ASSERT_EQ(call("POST", "/api/groups/Hall/add", R"({"players":["P2"]})").status, 200);
  EXPECT_EQ(doc("/api/players?fields=id&group=Hall").array(), (QJsonArray{QJsonObject{{"id", "P2"}}}));
  EXPECT_EQ(doc("/api/players?fields=id&q=hall").array(), (QJsonArray{QJsonObject{{"id", "P2"}}})) << "by its group too";
  for (const char* bad : {"?fields=id,secret", "?limit=0", "?limit=x", "?format=xml", "?sort=name"})
    EXPECT_EQ(call("GET", std::string("/api/players") + bad).status, 400) << bad;
  EXPECT_EQ(call("GET", "/api/players?group=Nope").status, 404);

  // The list is written as text directly: what a player calls itself comes back as it was, in every form.
  const QString hostile = QString::fromUtf8("Quote \"q\" \\ back, caf\u00e9 \u05e9\u05dc\u05d5\u05dd \U0001F4FA");
  const std::string sep(wire::kSeparator);
  c->udp_feedback.udp_socket_did_receive(QByteArray::fromStdString("P9" + sep) + hostile.toUtf8() +
                                             QByteArray::fromStdString(sep + "2" + sep + "1" + sep + "---" + sep + "---" +
                                                                       sep + "0" + sep + "0"),
                                         "127.0.0.1");
  const QJsonObject one = doc("/api/players/P9").object();
  ASSERT_EQ(one["name"].toString(), hostile);
  EXPECT_EQ(doc("/api/players?fields=name&q=quote").array(), (QJsonArray{QJsonObject{{"name", hostile}}}));
  EXPECT_EQ(doc("/api/players?format=compact&fields=name,id&q=quote").object()["players"].toArray(),
            (QJsonArray{QJsonArray{hostile, "P9"}}));
  // What the server logged lately, the feedback's lines aside.
  console_log("TEST LOG LINE");
  const QJsonArray logged = doc("/api/log?lines=1000").object()["lines"].toArray();
  ASSERT_FALSE(logged.isEmpty());
  EXPECT_EQ(logged.last().toObject()["text"].toString(), "TEST LOG LINE");
  for (const QJsonValue& line : logged) EXPECT_FALSE(line.toObject()["text"].toString().startsWith("RECEIVE FROM"));
  EXPECT_EQ(doc("/api/log?lines=1").object()["lines"].toArray().size(), 1);
  EXPECT_EQ(call("GET", "/api/log?lines=0").status, 400);
  for (const qint64 ms : {0LL, 1765265489123LL, 951782400000LL /* 2000-02-29 */, 4102444799999LL})
    EXPECT_EQ(player_query::iso_utc(ms), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs));
  for (const QJsonValue& p : doc("/api/players").array())
    if (p.toObject()["id"] == "P9") {
      EXPECT_EQ(p.toObject(), one) << "the list and the player agree";
    }
}

// The API sends the bytes the window's buttons send.
TEST_F(Api, CommandsAndListsReachThePlayersAsTheWindowSendsThem) {
  ASSERT_EQ(call("POST", "/api/commands", R"({"command":"pause","players":["P2"]})").status, 202);
  ASSERT_EQ(call("POST", "/api/commands", R"({"command":"web-stream","players":["P1"],"arguments":["http://s/x.m3u8"]})")
                .status,
            202);
  ASSERT_EQ(call("POST", "/api/send", R"({"playlist":"Lobby","players":"all"})").status, 202);
  ASSERT_EQ(call("PATCH", "/api/players/P1", R"({"name":"Foyer"})").status, 202);
  EXPECT_EQ(received(), (std::vector<std::string>{
                            wire::encode_command("P2", wire::kPause),
                            wire::encode_command("P1", wire::kWebStream, {"http://s/x.m3u8"}),
                            wire::encode_command("P1", wire::kLoadPlaylist, {"7", "Lobby"}),
                            wire::encode_command("P2", wire::kLoadPlaylist, {"7", "Lobby"}),
                            wire::encode_command("P1", wire::kRename, {"Foyer"}),
                        }));
  // The players were sent list 7: its name is known for them.
  EXPECT_EQ(c->list_name("P1", "7"), "Lobby");

  ASSERT_EQ(call("DELETE", "/api/players/P2").status, 200);
  EXPECT_EQ(c->udp_feedback.player_ids(), QStringList{"P1"});
}

// What a hub asks of each site: the list of that name made once, refilled and sent.
TEST_F(Api, PublishMakesTheListOnceThenRefillsAndSendsIt) {
  const auto first = call("POST", "/api/publish", R"({"playlist":"Promo","items":[],"players":["P1"]})");
  ASSERT_EQ(first.status, 202);
  const auto again = call("POST", "/api/publish", R"({"playlist":"Promo","items":[],"players":["P1"]})");
  ASSERT_EQ(again.status, 202);
  EXPECT_TRUE(object(first)["created"].toBool());
  EXPECT_FALSE(object(again)["created"].toBool());
  const QString id = QString::number(object(first)["playlist"].toInteger());
  EXPECT_EQ(object(again)["playlist"].toInteger(), object(first)["playlist"].toInteger());
  const std::string load = wire::encode_command("P1", wire::kLoadPlaylist, {id.toStdString(), "Promo"});
  EXPECT_EQ(received(), (std::vector<std::string>{load, load}));
}

// An announcement to a group gives each player back what it had: a list,
// a stream, or (told nothing by this server) an empty list.
TEST_F(Api, AnAnnouncementEndsGivingEachPlayerItsOwnBack) {
  const std::string sep(wire::kSeparator);
  c->udp_feedback.udp_socket_did_receive(
      QByteArray::fromStdString("P3" + sep + "Screen P3" + sep + "2" + sep + "1" + sep + "---" + sep + "---" + sep + "0" + sep + "0"),
      "127.0.0.1");
  ASSERT_EQ(call("POST", "/api/send", R"({"playlist":7,"players":["P1"]})").status, 202);
  ASSERT_EQ(call("POST", "/api/commands", R"({"command":"web-stream","players":["P2"],"arguments":["http://s/a.m3u8"]})").status,
            202);
  ASSERT_EQ(call("POST", "/api/groups", R"({"name":"Hall"})").status, 201);
  ASSERT_EQ(call("POST", "/api/groups/Hall/add", R"({"players":["P1","P2","P3"]})").status, 200);
  received();
  const auto started = call("POST", "/api/announcement", R"({"stream":"http://s/closing.m3u8","players":["group:Hall"]})");
  ASSERT_EQ(started.status, 202) << started.body;
  EXPECT_EQ(received().size(), 3u);
  EXPECT_EQ(call("POST", "/api/announcement", R"({"playlist":7,"players":"all"})").status, 409) << "one at a time";
  EXPECT_EQ(call("POST", "/api/announcement", R"({"playlist":7,"players":"all","minutes":1.5})").status, 400);
  const QJsonObject shown = object(call("GET", "/api/announcement"));
  EXPECT_EQ(shown["what"].toString(), "stream http://s/closing.m3u8");
  EXPECT_EQ(shown["targets"].toArray(), QJsonArray{"group:Hall"});
  ASSERT_EQ(call("DELETE", "/api/announcement").status, 200);
  auto back = received();
  std::sort(back.begin(), back.end());
  std::vector<std::string> expected{wire::encode_command("P1", wire::kLoadPlaylist, {"7", "Lobby"}),
                                    wire::encode_command("P2", wire::kWebStream, {"http://s/a.m3u8"}),
                                    wire::encode_command("P3", wire::kClearList)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(back, expected);
  EXPECT_FALSE(object(call("GET", "/api/announcement"))["running"].toBool());
  EXPECT_EQ(call("DELETE", "/api/announcement").status, 409);
  // Each player's history tells it.
  if (c->history.store()) {
    const std::string timeline = call("GET", "/api/history/players/P3").body;
    EXPECT_NE(timeline.find("ended: stream http://s/closing.m3u8"), std::string::npos) << timeline;
  }
}

// A group is a target beside ids and "all", in every send; it is kept in
// its own file and forgets the players that are removed.
TEST_F(Api, GroupsAreTargetsOfEverySendAndKeepOnlyPlayersThatExist) {
  EXPECT_EQ(call("POST", "/api/groups", R"({"name":"Cafeteria"})").status, 201);
  EXPECT_EQ(call("POST", "/api/groups", R"({"name":"Cafeteria"})").status, 409);
  for (const char* bad : {R"({"name":""})", R"({"name":"Caf\u0000e"})", R"({"name":"a/b"})", R"({"name":7})"})
    EXPECT_EQ(call("POST", "/api/groups", bad).status, 400) << bad;
  EXPECT_EQ(call("POST", "/api/groups/Cafeteria/add", R"({"players":["P2"]})").status, 200);
  const auto unknown_player = call("POST", "/api/groups/Cafeteria/add", R"({"players":["P9"]})");
  EXPECT_EQ(unknown_player.status, 404);
  EXPECT_NE(unknown_player.body.find("P9"), std::string::npos);
  const QJsonArray groups = QJsonDocument::fromJson(QByteArray::fromStdString(call("GET", "/api/groups").body)).array();
  ASSERT_EQ(groups.size(), 1);
  EXPECT_EQ(groups[0].toObject()["players"].toArray(), QJsonArray{"P2"});
  EXPECT_EQ(groups[0].toObject()["online"].toInt(), 1);

  ASSERT_EQ(call("POST", "/api/commands", R"({"command":"pause","players":["group:Cafeteria"]})").status, 202);
  ASSERT_EQ(call("POST", "/api/send", R"({"playlist":"Lobby","players":["group:Cafeteria","P1","P2"]})").status, 202);
  const auto kitchen = call("POST", "/api/commands", R"({"command":"pause","players":["group:Kitchen"]})");
  EXPECT_EQ(kitchen.status, 404);
  EXPECT_NE(kitchen.body.find("Kitchen"), std::string::npos);
  EXPECT_EQ(received(), (std::vector<std::string>{
                            wire::encode_command("P2", wire::kPause),
                            wire::encode_command("P2", wire::kLoadPlaylist, {"7", "Lobby"}),
                            wire::encode_command("P1", wire::kLoadPlaylist, {"7", "Lobby"}),
                        }));

  // Saved, and read again as it was.
  wait_for_writes();
  PlayerGroups again(application_folder() + "/" + kGroupsFile);
  again.load();
  EXPECT_EQ(again.members("Cafeteria"), QStringList{"P2"});
  ASSERT_EQ(call("DELETE", "/api/players/P2").status, 200);
  EXPECT_TRUE(c->groups.members("Cafeteria").isEmpty());
  EXPECT_EQ(call("DELETE", "/api/groups/Cafeteria").status, 200);
  EXPECT_EQ(call("DELETE", "/api/groups/Cafeteria").status, 404);
}

// A bad request answers 4xx naming the field, and sends and changes nothing.
TEST_F(Api, BadInputChangesNothing) {
  struct Case {
    const char* method;
    const char* target;
    std::string body;
    int status;
    const char* field;
  };
  const std::string sep(wire::kSeparator);
  const Case cases[] = {
      {"POST", "/api/commands", "{\"command\":", 400, ""},
      {"POST", "/api/commands", "[1,2]", 400, ""},
      {"POST", "/api/commands", R"({"command":"dance","players":"all"})", 400, "command"},
      {"POST", "/api/commands", R"({"command":"pause","players":"P1"})", 400, "players"},
      {"POST", "/api/commands", R"({"command":"pause","players":[1]})", 400, "players"},
      {"POST", "/api/commands", R"({"command":"pause","players":["P1","nobody"]})", 404, "players"},
      {"POST", "/api/commands", R"({"command":"pause","players":[]})", 400, "players"},
      {"POST", "/api/commands", R"({"command":"web-stream","players":["P1"],"arguments":[" "]})", 400, "address"},
      {"POST", "/api/commands", R"({"command":"web-stream","players":["P1"],"arguments":"x"})", 400, "arguments"},
      {"PATCH", "/api/players/P1", "{\"name\":\"a" + sep + "b\"}", 400, "name"},
      {"PATCH", "/api/players/P1", R"({"name":"two\nlines"})", 400, "name"},
      {"PATCH", "/api/players/P1", R"({"name":5})", 400, "name"},
      {"PATCH", "/api/players/nobody", R"({"name":"x"})", 404, "players"},
      {"DELETE", "/api/players/nobody", "", 404, "players"},
      {"POST", "/api/send", R"({"playlist":"Nowhere","players":"all"})", 404, "playlist"},
      {"POST", "/api/send", R"({"playlist":true,"players":"all"})", 400, "playlist"},
      {"POST", "/api/send", R"({"playlist":7,"players":["P1","ghost"]})", 404, "players"},
      {"POST", "/api/publish", R"({"playlist":"Fresh","items":[{"file":"nowhere.png"}],"players":"all"})", 404, "items"},
      {"POST", "/api/publish", R"({"playlist":"Fresh","items":[],"players":["ghost"]})", 404, "players"},
      {"GET", "/api/sites", "", 404, ""},
      {"POST", "/api/commands", "{\"command\":\"pause\",\"players\":\"all\",\"x\":\"" + std::string(5000, 'x') + "\"}",
       413, ""},
      {"GET", "/api/nothing", "", 404, ""},
      {"PUT", "/api/players", "", 405, ""},
  };
  for (const Case& k : cases) {
    const auto reply = call(k.method, k.target, k.body);
    EXPECT_EQ(reply.status, k.status) << k.method << " " << k.target << " " << k.body;
    EXPECT_EQ(object(reply)["field"].toString(), QString(k.field)) << k.target << " " << k.body;
    EXPECT_FALSE(object(reply)["error"].toString().isEmpty()) << k.target;
  }
  EXPECT_TRUE(received().empty());
  const RecordList& lists = c->playlists.ArrayController_PLAYLIST();
  for (int i = 0; i < lists.size(); ++i) EXPECT_NE(lists.at(i).value("name").toString(), "Fresh");
  EXPECT_EQ(c->udp_feedback.player_ids(), (QStringList{"P1", "P2"}));
  EXPECT_EQ(c->udp_feedback.ArrayController_DEVICES().at(0).value("device_name").toString(), "Screen P1");
  EXPECT_TRUE(dialogs.shown.empty());  // the API asks no one
}

TEST_F(Api, TheEventStreamTellsCommandsAndNewPlayers) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), service->port()});
  const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kToken + "\r\n\r\n";
  asio::write(socket, asio::buffer(request));
  std::string seen;
  std::thread reader([&] {
    asio::streambuf buffer;
    boost::system::error_code ec;
    while (seen.find("\"id\":\"P3\"") == std::string::npos) {
      asio::read_until(socket, buffer, "\n\n", ec);
      if (ec) return;
      seen.append(asio::buffers_begin(buffer.data()), asio::buffers_end(buffer.data()));
      buffer.consume(buffer.size());
    }
  });
  auto finish = [&] {
    boost::system::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    if (reader.joinable()) reader.join();
  };
  struct Finally {
    std::function<void()> fn;
    ~Finally() { fn(); }
  } finally{finish};
  ASSERT_TRUE(test::spin_until([&] { return service->counters().event_streams == 1; }));
  EXPECT_EQ(call("POST", "/api/commands", R"({"command":"mute","players":["P1"]})").status, 202);
  const std::string sep(wire::kSeparator);
  c->udp_feedback.udp_socket_did_receive(QByteArray::fromStdString("P3" + sep + "New" + sep + "2" + sep + "1" + sep +
                                                                   "---" + sep + "---" + sep + "0" + sep + "0"),
                                         "127.0.0.1");
  test::spin_for(1500);  // the next look at the players
  finish();
  EXPECT_NE(seen.find("HTTP/1.1 200 OK"), std::string::npos);
  EXPECT_NE(seen.find("event: command\ndata: {\"text\":\"MUTE: 0 of 1 confirmed\"}"), std::string::npos) << seen;
  EXPECT_NE(seen.find("event: player\ndata: {\"change\":\"added\",\"id\":\"P3\""), std::string::npos) << seen;
}

TEST(ApiToken, IsMadeOnceReadableOnlyByItsOwner) {
  const QString dir = QDir::tempPath() + "/tavri_token_test_" + QString::number(::getpid());
  QDir().mkpath(dir);
  const std::string path = (dir + "/api_token").toStdString();
  std::string error;
  const auto made = api::load_or_make_token(path, error);
  ASSERT_TRUE(made) << error;
  EXPECT_EQ(made->size(), 64u);
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(api::load_or_make_token(path, error), made);
  EXPECT_TRUE(api::same_token(*made, *made));
  EXPECT_FALSE(api::same_token(made->substr(0, 63), *made));
  ::chmod(path.c_str(), 0644);
  EXPECT_FALSE(api::load_or_make_token(path, error));
  EXPECT_NE(error.find("only its owner"), std::string::npos);
  QDir(dir).removeRecursively();
}

TEST(ServerConfig, ABadValueNamesTheFileAndTheKey) {
  const QString path = QDir::tempPath() + "/tavri_config_test_" + QString::number(::getpid()) + ".conf";
  auto read = [&](const QByteArray& text, QString& error) {
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    f.close();
    return read_settings(path, true, error);
  };
  QString error;
  const auto good = read("[api]\nport=6080\n[history]\nretention_days=30\n", error);
  ASSERT_TRUE(good) << error.toStdString();
  EXPECT_EQ(good->api_port, 6080);
  EXPECT_EQ(good->history_retention_days, 30);
  for (const auto& [text, wanted] : std::vector<std::pair<QByteArray, QString>>{
           {"[api]\nport=70000\n", "[api] port: \"70000\" is not a port"},
           {"[api]\nport=5003\n", "[api] port: 5003 is a port the players use"},
           {"[api]\nlisten=0.0.0.0\n", "[api] listen: listening on 0.0.0.0, beyond this machine, needs TLS"},
           {"[api]\ntls_certificate=/nonexistent.pem\n", "[api] tls_certificate: \"/nonexistent.pem\" cannot be read"},
           {"[api]\nlisten=my-box\n", "[api] listen: \"my-box\" is not an IP address"},
           {"[content]\nfolder=relative/path\n", "[content] folder: must be an absolute path"},
           {"[api]\ncolour=blue\n", "[api] colour: no such setting"},
           {"[alerts]\ndesktop=perhaps\n", "[alerts] desktop: \"perhaps\" is neither true nor false"},
           {"[api]\nport: 6000\n", "line 2 is not INI"},
           {"[players]\nmax=12\n", "[players] max: \"12\" is not a number of players"},
           {"[players]\ncommand_rate=5\n", "[players] command_rate: \"5\" is not a number of datagrams a second"},
           {"{\"api\": {\"port\": 6000}}\n", "line 1 is not INI"},
           {"[api]\nhost_names=box.example, evil/name\n", "[api] host_names: \"evil/name\" is not a host name"},
       }) {
    EXPECT_FALSE(read(text, error)) << text.constData();
    EXPECT_TRUE(error.startsWith(path + ": ")) << error.toStdString();
    EXPECT_TRUE(error.contains(wanted)) << error.toStdString();
  }
  QFile::remove(path);
  EXPECT_FALSE(read_settings(path, true, error));
  EXPECT_TRUE(read_settings(path, false, error));  // the default file may be missing
}

// Each documented path and method is a route, and each route the document
// names answers as documented (no "no such route", no wrong method).
TEST_F(Api, TheOpenApiDocumentNamesTheRoutes) {
  const auto metrics = call("GET", "/metrics");
  EXPECT_NE(metrics.body.find("tavri_players{state=\"online\"} 2\n"), std::string::npos) << metrics.body;
  for (const char* name : {"tavri_feedback_datagrams_total{outcome=\"refused\"}", "tavri_writer_queue ", "tavri_scan_seconds "})
    EXPECT_NE(metrics.body.find(name), std::string::npos) << name;
  EXPECT_EQ(call("GET", "/metrics", {}, "").status, 401);
  const auto doc = call("GET", "/api/openapi.json");
  ASSERT_EQ(doc.status, 200);
  const QJsonObject paths = object(doc)["paths"].toObject();
  ASSERT_GE(paths.size(), 15);
  for (auto path = paths.begin(); path != paths.end(); ++path) {
    QString target = path.key();
    target.replace("{id}", target.startsWith("/api/players") ? "P1" : "7").replace("{file}", "none.png");
    for (const QString& method : path.value().toObject().keys()) {
      if (method == "parameters" || target == "/api/events") continue;
      const auto reply = call(method.toUpper().toStdString(), target.toStdString(), "{}");
      EXPECT_NE(reply.status, 405) << method.toStdString() << " " << target.toStdString();
      EXPECT_NE(object(reply)["error"].toString(), "no such route") << method.toStdString() << " " << target.toStdString();
      EXPECT_NE(reply.status, 401) << target.toStdString();
    }
  }
  // The roles: every documented operation has one from the listener's
  // table, and every row of the table is documented.
  int documented = 0;
  for (auto path = paths.begin(); path != paths.end(); ++path)
    for (const QString& method : path.value().toObject().keys()) {
      if (method == "parameters") continue;
      ++documented;
      EXPECT_FALSE(path.value()[method]["x-role"].toString().isEmpty()) << method.toStdString() << " " << path.key().toStdString();
    }
  EXPECT_EQ(documented, int(api::route_roles().size()));
  // Not written in two places: a role the document gives is the one the listener asks for.
  EXPECT_EQ(paths["/api/players/{id}"]["delete"]["x-role"].toString(), "admin");
  EXPECT_EQ(paths["/api/send"]["post"]["x-role"].toString(), "operator");
  EXPECT_EQ(paths["/api/players"]["get"]["x-role"].toString(), "viewer");
}

// The catalogues' operations: a bad name or id changes nothing, and what
// the API made the window's list holds.
TEST_F(Api, PlaylistsAreMadeRenamedCopiedAndRemoved) {
  const auto made = call("POST", "/api/playlists", R"({"name":"Foyer"})");
  ASSERT_EQ(made.status, 201);
  const int id = object(made)["id"].toInt();
  EXPECT_NE(id, 7);
  const std::string path = "/api/playlists/" + std::to_string(id);
  const std::string sep(wire::kSeparator);
  EXPECT_EQ(call("PATCH", path, "{\"name\":\"a" + sep + "b\"}").status, 400);
  EXPECT_EQ(call("POST", "/api/playlists", R"({"name":" "})").status, 400);
  EXPECT_EQ(call("PATCH", "/api/playlists/999", R"({"name":"x"})").status, 404);
  EXPECT_EQ(call("PATCH", path, R"({"name":"Hall"})").status, 200);
  EXPECT_EQ(c->playlists.name_of(id), "Hall");
  const auto copied = call("POST", path + "/copy");
  ASSERT_EQ(copied.status, 201);
  EXPECT_EQ(c->playlists.name_of(object(copied)["id"].toInt()), "Hall");

  // Two clients edit the same list: the second, working from what it read
  // before the first's change, is refused and changes nothing.
  const std::string read = object(call("GET", path))["etag"].toString().toStdString();
  ASSERT_FALSE(read.empty());
  EXPECT_EQ(call("PATCH", path, R"({"name":"First"})", kToken, read).status, 200);
  const auto second = call("PATCH", path, R"({"name":"Second"})", kToken, read);
  EXPECT_EQ(second.status, 412);
  EXPECT_EQ(object(second)["field"], "If-Match");
  EXPECT_EQ(c->playlists.name_of(id), "First");
  EXPECT_EQ(call("PUT", path + "/items", R"({"items":[]})", kToken, read).status, 412);
  EXPECT_EQ(call("DELETE", path, {}, kToken, read).status, 412);
  // A list removed and made again under its id is not the one read before.
  const std::string first = object(call("GET", path))["etag"].toString().toStdString();
  ASSERT_EQ(call("DELETE", path, {}, kToken, first).status, 200);
  ASSERT_EQ(object(call("POST", "/api/playlists", R"({"name":"First"})"))["id"].toInt(), id);
  EXPECT_EQ(call("PATCH", path, R"({"name":"Stale"})", kToken, first).status, 412);

  EXPECT_EQ(call("DELETE", path).status, 200);
  EXPECT_TRUE(c->playlists.name_of(id).isEmpty());
  EXPECT_EQ(call("DELETE", path).status, 404);
  EXPECT_EQ(object(call("GET", "/api/playlists/7"))["name"].toString(), "Lobby");

  const auto schedule = call("POST", "/api/schedules", R"({"name":"Week"})");
  ASSERT_EQ(schedule.status, 201);
  EXPECT_EQ(c->schedule.ArrayController_SCHEDULELIST().size(), 1);
  EXPECT_EQ(call("DELETE", "/api/schedules/" + std::to_string(object(schedule)["id"].toInt())).status, 200);
  EXPECT_EQ(c->schedule.ArrayController_SCHEDULELIST().size(), 0);
  EXPECT_TRUE(dialogs.shown.empty());
}

// A schedule's tasks are set whole: a bad time or an unknown playlist
// leaves them as they were.
TEST_F(Api, ScheduleTasksAreSetWhole) {
  const auto made = call("POST", "/api/schedules", R"({"name":"Week"})");
  ASSERT_EQ(made.status, 201);
  const std::string path = "/api/schedules/" + std::to_string(object(made)["id"].toInt()) + "/tasks";
  const auto set = call("PUT", path,
                        R"({"tasks":[{"name":"Mornings","date":"2026-12-08","time":"07:30","playlist":7,"daily":false},
                                     {"name":"Nights","date":"2026-12-08","time":"22:00","playlist":7}]})");
  ASSERT_EQ(set.status, 200) << set.body;
  auto tasks = [&] {
    const int index = c->schedule.catalogue().index_of(object(made)["id"].toInt());
    return to_record_array(c->schedule.ArrayController_SCHEDULELIST().at(index).value("tasklist").toList());
  };
  ASSERT_EQ(tasks().size(), 2);
  EXPECT_EQ(tasks()[0].value("time").toString(), "07:30");
  EXPECT_EQ(tasks()[0].value("daily").toInt(), 0);
  EXPECT_EQ(tasks()[1].value("list").toInt(), 7);
  EXPECT_EQ(call("PUT", path, R"({"tasks":[{"name":"x","date":"2026-12-08","time":"25:00","playlist":7}]})").status, 400);
  EXPECT_EQ(call("PUT", path, R"({"tasks":[{"name":"x","date":"2026-12-08","time":"08:00","playlist":99}]})").status, 404);
  EXPECT_EQ(call("PUT", path, R"({"tasks":[{"name":"x","date":"2026-12-08","time":"08:00","playlist":7,"cut":"yes"}]})").status,
            400);
  EXPECT_EQ(tasks().size(), 2);
  // Rules and a fallback are kept beside the task's fields and shown.
  const auto ruled = call("PUT", path, R"({"tasks":[{"name":"Breakfast","date":"2026-12-08","time":"07:00","playlist":7,
                                       "days":["fri","mon"],"end_time":"10:30","last_date":"2027-06-30"}],"fallback":7})");
  ASSERT_EQ(ruled.status, 200) << ruled.body;
  const QJsonObject shown = object(call("GET", "/api/schedules/" + std::to_string(object(made)["id"].toInt())));
  EXPECT_EQ(shown["fallback"].toInt(), 7);
  const QJsonObject breakfast = shown["tasklist"].toArray()[0].toObject();
  EXPECT_EQ(breakfast["days"].toString(), "Mon Fri");
  EXPECT_EQ(breakfast["end_time"].toString(), "10:30");
  for (const char* bad : {R"({"tasks":[{"name":"x","date":"2026-12-08","time":"08:00","playlist":7,"days":["someday"]}]})",
                          R"({"tasks":[{"name":"x","date":"2026-12-08","time":"08:00","playlist":7,"end_time":"8"}]})",
                          R"({"tasks":[],"fallback":"7"})"})
    EXPECT_EQ(call("PUT", path, bad).status, 400) << bad;
  EXPECT_EQ(call("PUT", path, R"({"tasks":[],"fallback":99})").status, 404);
  EXPECT_EQ(tasks().size(), 1);
}

// Schedules and playlists number from 1 each: a player sent schedule 1
// is shown running that schedule, whether it reports the schedule's id or
// its task's playlist, and never under playlist 1's name.
TEST_F(Api, APlayerOnAScheduleIsShownRunningItNotAPlaylistOfTheSameId) {
  ASSERT_EQ(object(call("POST", "/api/playlists", R"({"name":"Foyer"})"))["id"].toInt(), 1);
  const auto schedule = call("POST", "/api/schedules", R"({"name":"Week"})");
  ASSERT_EQ(object(schedule)["id"].toInt(), 1);
  ASSERT_EQ(call("PUT", "/api/schedules/1/tasks",
                 R"({"tasks":[{"name":"Mornings","date":"2026-12-08","time":"07:30","playlist":7}]})")
                .status,
            200);
  ASSERT_EQ(call("POST", "/api/send", R"({"schedule":1,"players":["P1"]})").status, 202);
  ASSERT_EQ(call("POST", "/api/send", R"({"playlist":1,"players":["P2"]})").status, 202);
  auto report = [&](const char* player, const char* list) {
    const std::string sep(wire::kSeparator);
    c->udp_feedback.udp_socket_did_receive(QByteArray::fromStdString(std::string(player) + sep + "Screen" + sep + "2" +
                                                                     sep + "1" + sep + list + sep + "a.mp4" + sep +
                                                                     "0" + sep + "0"),
                                           "127.0.0.1");
  };
  auto list_of = [&](const char* player) {
    for (const QJsonValue& p : QJsonDocument::fromJson(QByteArray::fromStdString(call("GET", "/api/players").body)).array())
      if (p.toObject()["id"] == player) return p.toObject()["list"].toObject();
    return QJsonObject();
  };
  for (const char* reported : {"1", "7"}) {
    report("P1", reported);
    EXPECT_EQ(list_of("P1"), (QJsonObject{{"id", "1"}, {"name", "Week"}, {"kind", "schedule"}})) << reported;
  }
  report("P2", "1");
  EXPECT_EQ(list_of("P2"), (QJsonObject{{"id", "1"}, {"name", "Foyer"}, {"kind", "playlist"}}));
  EXPECT_EQ(c->list_name("P1", "7"), "Week") << "the history and the proof of play name it too";
}

TEST_F(Api, ProofOfPlayComesAsCsv) {
  const auto csv = call("GET", "/api/history/proof-of-play?from=2026-01-01&to=2026-01-31");
  ASSERT_EQ(csv.status, 200) << csv.body;
  EXPECT_EQ(csv.body.rfind("player id,player name,", 0), 0u) << csv.body;
  EXPECT_EQ(object(call("GET", "/api/history/proof-of-play?from=2026-13-01&to=2026-01-31"))["field"], "from");
  EXPECT_EQ(object(call("GET", "/api/history/proof-of-play?from=2026-02-01&to=2026-01-31"))["field"], "to");
  EXPECT_EQ(call("GET", "/api/history/proof-of-play?from=2026-01-01&to=2026-01-31&players=P1,ghost").status, 404);
  EXPECT_EQ(call("GET", "/api/history/proof-of-play?from=2026-01-01&to=2026-01-31&players=P1&totals=true").status, 200);
}

// An upload lands whole under its name or not at all: a refusal comes
// before the body, a cut-short body leaves nothing in the folder.
TEST_F(Api, UploadsLandWholeOrNotAtAll) {
  const QString folder = home() + "/content";
  QDir().mkpath(folder);
  ASSERT_TRUE(c->file_list.choose_folder(folder).ok());
  const QString still = home() + "/still.png";
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(Qt::blue);
  ASSERT_TRUE(image.save(still));
  avctl::ApiClient client("127.0.0.1", std::to_string(service->port()), kToken);
  auto upload = [&](const std::string& target, const QString& path) {
    auto reply = std::async(std::launch::async, [&] { return client.upload(target, path.toStdString(), [](auto, auto) {}); });
    return answered(reply);
  };
  EXPECT_EQ(upload("/api/content/still.png", still).status, 201);
  EXPECT_EQ(QFile(folder + "/still.png").size(), QFile(still).size());
  const auto again = upload("/api/content/still.png", still);
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(object(again)["field"], "file");
  EXPECT_EQ(upload("/api/content/still.png?replace=true", still).status, 201);
  EXPECT_EQ(object(upload("/api/content/..%2Fstill.png", still))["field"], "file");
  EXPECT_EQ(upload("/api/content/notes.txt", still).status, 400);
  EXPECT_EQ(upload("/api/content/" + std::string(300, 'n') + ".png", still).status, 400);
  // A link in the folder is never written through.
  const QString outside = home() + "/outside.png";
  ASSERT_TRUE(QFile::copy(still, outside));
  ASSERT_TRUE(QFile::link(outside, folder + "/evil.png"));
  EXPECT_EQ(upload("/api/content/evil.png?replace=true", still).status, 409);
  EXPECT_EQ(QFile(outside).size(), QFile(still).size());
  QFile::remove(folder + "/evil.png");

  namespace asio = boost::asio;
  asio::io_context io;
  auto raw = [&](const std::string& head, const std::string& body) {
    return std::async(std::launch::async, [&, head, body] {
      asio::ip::tcp::socket s(io);
      s.connect({asio::ip::make_address("127.0.0.1"), service->port()});
      asio::write(s, asio::buffer(head + "Authorization: Bearer " + kToken + "\r\n\r\n" + body));
      if (!body.empty()) s.shutdown(asio::ip::tcp::socket::shutdown_send);
      std::string got;
      boost::system::error_code ec;
      char buffer[1024];
      for (std::size_t n; (n = s.read_some(asio::buffer(buffer), ec)), !ec;) got.append(buffer, n);
      return got;
    });
  };
  auto answer = [&](std::future<std::string> f) {
    return answered(f);
  };
  // No disk has room for this: refused before a byte is written.
  const std::string huge = "PUT /api/content/huge.mp4 HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: " +
                           std::to_string(std::uint64_t(1) << 60) + "\r\n";
  EXPECT_EQ(answer(raw(huge, "")).rfind("HTTP/1.1 507", 0), 0u);
  const std::string cut = "PUT /api/content/cut.png HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n";
  EXPECT_EQ(answer(raw(cut, std::string(5000, 'x'))).rfind("HTTP/1.1 400", 0), 0u);
  EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"PLAYLIST_ID_7.SAV", "still.png"}));

  // The scan makes it content; a playlist takes it by its file's name.
  ASSERT_TRUE(test::spin_until([&] { return c->file_list.index_of_file("still.png") >= 0; }));
  const auto set = call("PUT", "/api/playlists/7/items", R"({"items":[{"file":"still.png","seconds":5},{"file":"still.png"}]})");
  ASSERT_EQ(set.status, 200) << set.body;
  EXPECT_EQ(call("PUT", "/api/playlists/7/items", R"({"items":[{"file":"gone.png"}]})").status, 404);
  for (const char* seconds : {"-1", "-1e300", "1e300", "1.5", "\"8\""})
    EXPECT_EQ(call("PUT", "/api/playlists/7/items",
                   std::string(R"({"items":[{"file":"still.png","seconds":)") + seconds + "}]}")
                  .status,
              400)
        << seconds;
  const QJsonArray items = object(call("GET", "/api/playlists/7"))["items"].toArray();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(items[0].toObject()["file"], "still.png");
  EXPECT_EQ(items[0].toObject()["file_length"].toInt(), 5);
  EXPECT_TRUE(items[1].toObject()["file_length"].isDouble()) << "one type for every item";
  const QJsonArray content = QJsonDocument::fromJson(QByteArray::fromStdString(call("GET", "/api/content").body)).array();
  EXPECT_EQ(content[0].toObject()["playlists"].toArray(), QJsonArray{7});
  EXPECT_EQ(call("DELETE", "/api/content/still.png").status, 409);  // linked: say what becomes of its items
  EXPECT_EQ(call("DELETE", "/api/content/still.png?unlink=true").status, 200);
  EXPECT_FALSE(QFile::exists(folder + "/still.png"));
  EXPECT_TRUE(object(call("GET", "/api/playlists/7"))["items"].toArray().isEmpty());
  EXPECT_EQ(call("GET", "/metrics").body.find("tavri_publish_seconds_count 0\n"), std::string::npos);
}

// A backup holds the saved state; a restore takes only a checked backup,
// and the next start loads it.
TEST_F(Api, ABackupRestoresTheSavedState) {
  const auto backup = call("GET", "/api/backup");
  ASSERT_EQ(backup.status, 200) << backup.body;
  QString why;
  const auto entries = state_archive::read(QByteArray::fromStdString(backup.body), &why);
  ASSERT_TRUE(entries) << why.toStdString();
  const QString playlists = QString("documents/") + kPlaylistFile;
  ASSERT_TRUE(std::any_of(entries->begin(), entries->end(), [&](const auto& e) { return e.name == playlists; }));

  bool restarted = false;
  service->uploads().set_restart([&] { restarted = true; });
  auto restore = [&](const QByteArray& bytes) { return send_file("/api/restore", bytes); };
  QByteArray damaged = QByteArray::fromStdString(backup.body);
  damaged[100] = damaged[100] ^ 1;  // the first header
  EXPECT_EQ(restore(damaged).status, 400);
  EXPECT_EQ(restore("not a backup").status, 400);
  // More players than any site has: refused, saying why, without staging.
  RecordArray crowd;
  for (int i = 0; i < 100001; ++i) crowd.append({{"device_id", QString::number(i)}});
  const auto huge = restore(state_archive::write({{QString("application/") + kRegistryFile, encode_catalogue(crowd)}}, 0));
  EXPECT_EQ(huge.status, 413);
  EXPECT_NE(huge.body.find("more than 100000 records"), std::string::npos) << huge.body;
  EXPECT_FALSE(QFile::exists(state_archive::staged_path()));
  EXPECT_FALSE(restarted);

  ASSERT_EQ(restore(QByteArray::fromStdString(backup.body)).status, 202);
  EXPECT_TRUE(test::spin_until([&] { return restarted; }));
  // A refused restore after it leaves the accepted one staged.
  EXPECT_EQ(restore("not a backup either").status, 400);
  EXPECT_TRUE(QFile::exists(state_archive::staged_path()));
  wait_for_writes();
  const QString path = state_archive::path_of(playlists);
  const auto saved = read_file(path);
  QFile::remove(path);
  bool applied = false;
  ASSERT_TRUE(state_archive::apply_staged(&why, &applied)) << why.toStdString();
  EXPECT_TRUE(applied);
  EXPECT_EQ(read_file(path), saved);
  EXPECT_FALSE(QFile::exists(state_archive::staged_path()));
}

// An export holds the catalogues as saved; an import replaces them whole,
// and one that holds anything else changes nothing.
TEST_F(Api, TheCataloguesExportAndImportWholeOrNotAtAll) {
  const auto exported = call("GET", "/api/export");
  ASSERT_EQ(exported.status, 200) << exported.body;
  ASSERT_EQ(call("POST", "/api/playlists", R"({"name":"Foyer"})").status, 201);
  auto import = [&](const QByteArray& bytes) { return send_file("/api/import", bytes); };
  QVariantMap foreign{{kPlaylistFile, QByteArray::fromStdString(exported.body)}, {"tavri_AV_SERVER_DEVICES.sav", QByteArray("x")}};
  EXPECT_EQ(object(import(encode_root_archive(foreign)))["field"], "archive");
  EXPECT_EQ(import("not an export").status, 400);
  EXPECT_EQ(c->playlists.ArrayController_PLAYLIST().size(), 2);

  const auto imported = import(QByteArray::fromStdString(exported.body));
  ASSERT_EQ(imported.status, 200) << imported.body;
  ASSERT_EQ(c->playlists.ArrayController_PLAYLIST().size(), 1);
  EXPECT_EQ(c->playlists.name_of(7), "Lobby");
  EXPECT_EQ(call("GET", "/api/export").body, exported.body);
  EXPECT_FALSE(QFile::exists(application_folder() + "/tavri_AV_SERVER_IMPORT.upload"));
}

// The listener's limits, without the routes: a client that holds
// connections, sends an endless head or says nothing is refused or dropped.
TEST(ApiListener, LimitsHoldAgainstGreedyAndSlowClients) {
  namespace asio = boost::asio;
  api::ServerConfig config;
  config.port = 0;
  config.token = kToken;
  config.max_connections = 2;
  config.header_limit = 1024;
  config.deadline = std::chrono::milliseconds(300);
  api::ApiServer server(config, [](api::Request, api::Respond respond) { respond({200, "text/plain", "ok"}); });
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  asio::io_context io;
  auto connect = [&] {
    auto s = std::make_unique<asio::ip::tcp::socket>(io);
    s->connect({asio::ip::make_address("127.0.0.1"), server.port()});
    return s;
  };
  auto read_all = [](asio::ip::tcp::socket& s) {
    std::string got;
    boost::system::error_code ec;
    char buffer[4096];
    for (;;) {
      const std::size_t n = s.read_some(asio::buffer(buffer), ec);
      if (ec) break;
      got.append(buffer, n);
    }
    return got;
  };
  {
    auto a = connect(), b = connect();
    while (server.counters().open_connections < 2) std::this_thread::yield();
    auto third = connect();
    // The oldest that never asked anything makes room.
    EXPECT_EQ(read_all(*a), "");
    EXPECT_EQ(server.counters().evicted_connections, 1u);
    // The others are closed at the deadline.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(read_all(*b), "");
    EXPECT_EQ(read_all(*third), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  }
  auto big = connect();
  const std::string head = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Fill: " + std::string(4000, 'x') + "\r\n\r\n";
  asio::write(*big, asio::buffer(head));
  EXPECT_EQ(read_all(*big).rfind("HTTP/1.1 431", 0), 0u);
  // One byte at a time does not stretch the deadline: the whole request must arrive within it.
  auto slow = connect();
  const auto started = std::chrono::steady_clock::now();
  boost::system::error_code ec;
  for (char c : std::string("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n")) {
    asio::write(*slow, asio::buffer(&c, 1), ec);
    if (ec) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(read_all(*slow).find("200"), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  server.stop();
}

// A handler still working when the server stops holds its connection;
// answering later, and letting go, touches nothing of the stopped server.
TEST(ApiListener, AnAnswerOutlivingTheServerIsDropped) {
  namespace asio = boost::asio;
  api::ServerConfig config;
  config.port = 0;
  config.token = kToken;
  std::promise<api::Respond> held;
  auto server = std::make_unique<api::ApiServer>(
      config, [&](api::Request, api::Respond respond) { held.set_value(std::move(respond)); });
  std::string error;
  ASSERT_TRUE(server->start(error)) << error;
  asio::io_context io;
  asio::ip::tcp::socket client(io);
  client.connect({asio::ip::make_address("127.0.0.1"), server->port()});
  asio::write(client, asio::buffer("GET /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kToken + "\r\n\r\n"));
  api::Respond respond = held.get_future().get();
  server.reset();
  respond({200, "text/plain", "late"});
  respond = nullptr;  // the last hold on the connection
}

// Beyond loopback the API speaks TLS: a client that checks the certificate
// gets through, one speaking plain HTTP or trusting another certificate
// does not.
TEST(ApiListener, SpeaksTlsWithACertificate) {
  const QString dir = QDir::tempPath() + "/tavri_tls_test_" + QString::number(::getpid());
  QDir().mkpath(dir);
  QProcess openssl;
  openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=tavri test",
                            "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", dir + "/key.pem", "-out",
                            dir + "/cert.pem"});
  if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) GTEST_SKIP() << "no openssl command to make a certificate";
  api::ServerConfig config;
  config.port = 0;
  config.token = kToken;
  config.tls_certificate = (dir + "/cert.pem").toStdString();
  config.tls_key = (dir + "/key.pem").toStdString();
  api::ApiServer server(config, [](api::Request, api::Respond respond) { respond({200, "application/json", "{}"}); });
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  const std::string port = std::to_string(server.port());
  const auto checked = avctl::ApiClient({"127.0.0.1", port, true, config.tls_certificate}, kToken).call("GET", "/api/x");
  EXPECT_EQ(checked.status, 200) << checked.error;
  EXPECT_EQ(avctl::ApiClient({"127.0.0.1", port, true, {}}, kToken).call("GET", "/api/x").status, 0);
  EXPECT_EQ(avctl::ApiClient("127.0.0.1", port, kToken).call("GET", "/api/x").status, 0);
  server.stop();

  config.tls_key = config.tls_certificate;  // no key in it
  api::ApiServer keyless(config, [](api::Request, api::Respond) {});
  EXPECT_FALSE(keyless.start(error));
  EXPECT_NE(error.find("not a usable key"), std::string::npos) << error;
  // A key of another certificate is found before the service starts, so
  // that it exits as a configuration error.
  EXPECT_FALSE(api::tls_problem(config.tls_certificate, (dir + "/key.pem").toStdString()));
  openssl.start("openssl", {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", dir + "/other.pem"});
  ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
  const auto mismatch = api::tls_problem(config.tls_certificate, (dir + "/other.pem").toStdString());
  ASSERT_TRUE(mismatch);
  EXPECT_NE(mismatch->find("not a usable key"), std::string::npos) << *mismatch;
  QDir(dir).removeRecursively();
}
