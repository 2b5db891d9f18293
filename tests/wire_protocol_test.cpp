#include <gtest/gtest.h>

#include "players/net/wire_protocol.h"

using namespace tavri::wire;

namespace {
std::string join(std::initializer_list<std::string> fields) {
  std::string out;
  bool first = true;
  for (const auto& f : fields) {
    if (!first) out += kSeparator;
    out += f;
    first = false;
  }
  return out;
}
}  // namespace

TEST(WireProtocol, CommandsAreFieldsJoinedBySeparatorOnly) {
  EXPECT_EQ(simple_feedback_request(), "0<v_OX_TANDEM>0");
  EXPECT_EQ(simple_feedback_request().size(), 15u);
  EXPECT_EQ(encode_command("A1", kPlay), "A1<v_OX_TANDEM>1");
  EXPECT_EQ(encode_command("A1", kRename, {"Foyer links"}), "A1<v_OX_TANDEM>3<v_OX_TANDEM>Foyer links");
  EXPECT_EQ(encode_command("A1", kLoadPlaylist, {"12", "Lobby"}), "A1<v_OX_TANDEM>4<v_OX_TANDEM>12<v_OX_TANDEM>Lobby");
  EXPECT_EQ(encode_command("A1", kWebStream, {""}), "A1<v_OX_TANDEM>12<v_OX_TANDEM>");
  EXPECT_EQ(encode_command("A1", kBackground, {"Menü.png"}), "A1<v_OX_TANDEM>17<v_OX_TANDEM>Menü.png");
  EXPECT_TRUE(contains_separator("a<v_OX_TANDEM>b"));
  EXPECT_FALSE(contains_separator("a<v_OX_TANDEM b"));
}

TEST(WireProtocol, FeedbackFieldCountsDecideOptionalFields) {
  const auto eight = decode_feedback(join({"A1", "Foyer", "2", "1", "7", "3", "1", "0"}), "10.0.0.5");
  ASSERT_TRUE(eight);
  EXPECT_EQ(eight->device_id, "A1");
  EXPECT_EQ(eight->device_name, "Foyer");
  EXPECT_EQ(eight->status_device, 2);
  EXPECT_EQ(eight->status_player, 1);
  EXPECT_EQ(eight->id_playlist, "7");
  EXPECT_EQ(eight->id_track, "3");
  EXPECT_EQ(eight->status_menue, 1);
  EXPECT_EQ(eight->status_sound, 0);
  EXPECT_EQ(eight->device_time, "---");
  EXPECT_EQ(eight->device_background, "---");
  EXPECT_EQ(eight->device_ip, "10.0.0.5");

  const auto nine = decode_feedback(join({"A1", "F", "2", "1", "7", "3", "1", "0", "12:00"}), "h");
  EXPECT_EQ(nine->device_time, "12:00");
  EXPECT_EQ(nine->device_background, "---");
  const auto twelve = decode_feedback(join({"A1", "F", "2", "1", "7", "3", "1", "0", "t", "bg.png", "x", "y"}), "h");
  EXPECT_EQ(twelve->device_background, "bg.png");

  Drop why{};
  EXPECT_FALSE(decode_feedback(join({"A1", "F", "4", "1", "7", "3", "1"}), "h", &why)) << "seven fields are dropped";
  EXPECT_EQ(why, Drop::too_few_fields);
  EXPECT_FALSE(decode_feedback(join({std::string("A1\0B", 4), "F", "2", "1", "7", "3", "1", "0"}), "h", &why))
      << "an id with a NUL would be saved cut short";
  EXPECT_EQ(why, Drop::bad_id);
  EXPECT_FALSE(decode_feedback(join({"", "F", "2", "1", "7", "3", "1", "0"}), "h", &why)) << "an empty id is no player";
  EXPECT_EQ(why, Drop::bad_id);
  EXPECT_FALSE(decode_feedback("caf\xE9<v_OX_TANDEM>", "h", &why)) << "Latin-1 is not UTF-8";
  EXPECT_EQ(why, Drop::not_utf8);
  // A trailing separator makes an empty ninth field.
  const auto trailing = decode_feedback(join({"A1", "F", "2", "1", "7", "3", "1", "0"}) + std::string(kSeparator), "h");
  EXPECT_EQ(trailing->device_time, "");
  EXPECT_EQ(trailing->device_background, "---");
  // Empty fields count, and names are not trimmed.
  const auto empty = decode_feedback(join({"E", " n ", "", "", "", "", "", ""}), "h");
  EXPECT_EQ(empty->device_id, "E");
  EXPECT_EQ(empty->device_name, " n ");
}

TEST(WireProtocol, IntegerFieldsParseLikeTheClassicRule) {
  EXPECT_EQ(parse_int_field("2"), 2);
  EXPECT_EQ(parse_int_field(" 2"), 2);
  EXPECT_EQ(parse_int_field("2abc"), 2);
  EXPECT_EQ(parse_int_field("\t-7x"), -7);
  EXPECT_EQ(parse_int_field("+5"), 5);
  EXPECT_EQ(parse_int_field(""), 0);
  EXPECT_EQ(parse_int_field("---"), 0);
  EXPECT_EQ(parse_int_field("- 3"), 0);
  EXPECT_EQ(parse_int_field("99999999999999999999999"), 2147483647);
  EXPECT_EQ(parse_int_field("-2147483649"), -2147483647 - 1);
  EXPECT_EQ(parse_int_field("2147483647"), 2147483647);
}

TEST(WireProtocol, InvalidUtf8IsDroppedAndMappedAddressesAreCleaned) {
  const std::string good = join({"A1", "Küche", "2", "1", "7", "3", "1", "0"});
  EXPECT_TRUE(decode_feedback(good, "h"));
  for (std::string bad : {std::string("\xff"), std::string("\xc3"), std::string("\xc0\xaf"),
                          std::string("\xed\xa0\x80"), std::string("\xf4\x90\x80\x80")}) {
    EXPECT_FALSE(decode_feedback(good + bad, "h")) << "bytes " << bad.size();
  }
  EXPECT_EQ(decode_feedback(good, "::ffff:192.0.2.7")->device_ip, "192.0.2.7");
  EXPECT_EQ(decode_feedback(good, "fe80::1")->device_ip, "fe80::1");
  EXPECT_EQ(strip_mapped_prefix("::ffff:::ffff:1.2.3.4"), "1.2.3.4");
}
