// Text from the LAN and the API, as an attacker would make it: whatever is
// accepted comes back from the saved files exactly, and nothing accepted
// can make a saved file unreadable.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <random>

#include "core/background_writer.h"
#include "core/catalogue.h"
#include "core/catalogue_file.h"
#include "core/folders.h"
#include "core/text_rule.h"
#include "players/udp_feedback.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"
#include "support/udp_peer.h"

using namespace tavri;

namespace {

// A string of pieces an attacker likes: NUL, C0 and C1 controls, bidi
// overrides and isolates, broken and surrogate UTF-8, the field separator,
// and now and then a very long run.
std::string hostile(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {
      "a",          "Z",           " ",           "é",           "名",           "\xF0\x9F\x98\x80",
      std::string(1, '\0'),        "\x01",        "\x1B[2J",     "\x07",        "\x7F",
      "\xC2\x85",   "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x80\x8F", "\xED\xA0\x80", "\xFF",
      "\xC0\xAF",   "<v_OX_TANDEM>", "SIM-0002",   "\n"};
  std::string s;
  const int n = std::uniform_int_distribution<int>(1, 12)(rng);
  for (int i = 0; i < n; ++i) s += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
  if (std::uniform_int_distribution<int>(0, 40)(rng) == 0) s += std::string(1 << 20, 'x');
  return s;
}

std::string datagram(const std::string& id, const std::string& name) {
  const std::string sep = "<v_OX_TANDEM>";
  return id + sep + name + sep + "2" + sep + "1" + sep + "7" + sep + "3" + sep + "0" + sep + "0";
}

class HostileText : public test::TestHome {
 protected:
  std::unique_ptr<UDP_Feedback> make() {
    PlayerNetworkConfig config;
    config.feedback_port = 0;
    config.command_host = "127.0.0.1";
    config.command_port = listener.port();
    config.check_interval_ms = 3600 * 1000;
    config.heard_again_ms = 0;  // each hostile id is fed once
    return std::make_unique<UDP_Feedback>(bus, dialogs, &content, config, &pool);
  }
  net::IoPool pool{1};
  Bus bus;
  test::ScriptedDialogs dialogs;
  RecordList content;
  test::UdpPeer listener;
};

}  // namespace

TEST(TextRule, SaysWhatBreaksIt) {
  using text_rule::Kind;
  auto sv = [](const char* s) { return std::string_view(s); };
  EXPECT_FALSE(text_rule::problem(sv("Lobby 2 — 名 😀"), Kind::name));
  EXPECT_FALSE(text_rule::problem(sv("\xD8\xB4\xD8\xA7\xD8\xB4\xD8\xA9 \xE2\x80\x8F"), Kind::name));  // bidi mark in a name
  EXPECT_TRUE(text_rule::problem(sv("\xE2\x80\xAE" "2000-MIS"), Kind::id));
  EXPECT_TRUE(text_rule::problem(std::string("a\0b", 3), Kind::name));
  EXPECT_TRUE(text_rule::problem(sv("tab\there"), Kind::name));
  EXPECT_TRUE(text_rule::problem(sv("\xC2\x9B" "31m"), Kind::name));  // C1 CSI
  EXPECT_TRUE(text_rule::problem(sv("\xED\xA0\x80"), Kind::name));     // a surrogate, encoded
  EXPECT_TRUE(text_rule::problem(sv("\xE2\x82"), Kind::name));         // cut short
  EXPECT_TRUE(text_rule::problem(QString(QChar(0xD800)), Kind::name).has_value());
  EXPECT_FALSE(text_rule::problem(std::string(256, 'n'), Kind::name));
  EXPECT_TRUE(text_rule::problem(std::string(257, 'n'), Kind::name));
  EXPECT_TRUE(text_rule::problem(std::string(128, 'e') + ".mp4", Kind::file_name) == std::nullopt);
  EXPECT_TRUE(text_rule::problem(std::string(300, 'e') + ".mp4", Kind::file_name));
  EXPECT_EQ(text_rule::escape_controls("a\x1B[2J\x07\xE2\x80\xAE" "b\xFF"), "a\\x1B[2J\\x07\\u{202E}b\\xFF");
}

// Random hostile names and ids, through the feedback and the catalogues:
// what was accepted keeps the rule and is read back exactly; the rest
// never reached a file.
TEST_F(HostileText, WhatIsAcceptedIsSavedAndReadBackExactly) {
  std::mt19937 rng(20261208);
  RecordArray playlists;
  {
    auto p = make();
    for (int i = 0; i < 400; ++i) {
      const std::string text = hostile(rng);
      p->udp_socket_did_receive(QByteArray::fromStdString(datagram("H" + std::to_string(i), text)), "127.0.0.1");
      p->udp_socket_did_receive(QByteArray::fromStdString(datagram(text, "by id " + std::to_string(i))), "127.0.0.1");
      const QString name = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
      if (Catalogue::check_name(name).ok()) playlists.append({{"id", i + 1}, {"name", name}});
    }
    p->udp_socket_did_receive(QByteArray::fromStdString(datagram("NUL", std::string("evil\0name", 9))), "127.0.0.1");
    EXPECT_GT(p->datagrams_refused(), 100u);
    const auto& devices = p->ArrayController_DEVICES();
    EXPECT_GT(devices.size(), 40);
    for (int i = 0; i < devices.size(); ++i) {
      EXPECT_FALSE(text_rule::problem(devices.at(i)["device_id"].toString(), text_rule::Kind::id));
      EXPECT_FALSE(text_rule::problem(devices.at(i)["device_name"].toString(), text_rule::Kind::name));
      EXPECT_NE(devices.at(i)["device_id"].toString(), "NUL");
    }
    p->save();
    BackgroundWriter::instance().wait_idle(60000);

    auto q = make();
    q->load();
    const auto& loaded = q->ArrayController_DEVICES();
    ASSERT_EQ(loaded.size(), devices.size());
    for (int i = 0; i < devices.size(); ++i) {
      EXPECT_EQ(loaded.at(i)["device_id"].toString(), devices.at(i)["device_id"].toString());
      EXPECT_EQ(loaded.at(i)["device_name"].toString(), devices.at(i)["device_name"].toString());
    }
  }
  EXPECT_GT(playlists.size(), 25);
  QDir().mkpath(application_folder());
  const QString file = application_folder() + "/hostile_playlists.sav";
  ASSERT_TRUE(save_catalogue(file, playlists, "SAVE"));
  const CatalogueLoad load = load_catalogue(file, "LOAD");
  EXPECT_TRUE(load.damaged_copy.isEmpty());
  ASSERT_EQ(load.records.size(), playlists.size());
  for (int i = 0; i < playlists.size(); ++i) EXPECT_EQ(load.records.at(i)["name"], playlists.at(i)["name"]);
}

// A file written before the rule, holding a name no entrance takes now:
// the rest of the file loads, and the record is named where it was dropped.
TEST_F(HostileText, AnOldFileLosesOnlyItsBrokenRecord) {
  QDir().mkpath(application_folder());
  const QString file = application_folder() + "/old_playlists.sav";
  ASSERT_TRUE(save_catalogue(file, {{{"id", 1}, {"name", "Lobby"}}, {{"id", 2}, {"name", "bad\x1B[2Jname"}},
                                    {{"id", 3}, {"name", "Bar"}}},
                             "SAVE"));
  const CatalogueLoad load = load_catalogue(file, "LOAD");
  ASSERT_EQ(load.records.size(), 2);
  EXPECT_EQ(load.records.at(1)["name"].toString(), "Bar");
  EXPECT_FALSE(load.damaged_copy.isEmpty());
  EXPECT_TRUE(QFile::exists(load.damaged_copy));
}
