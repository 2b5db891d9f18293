#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes exchanged with the players: command datagrams we broadcast and
// feedback datagrams they send. Pure functions, no I/O.
namespace tavri::wire {

inline constexpr std::string_view kSeparator = "<v_OX_TANDEM>";
inline constexpr std::uint16_t kFeedbackPort = 5001;
inline constexpr std::uint16_t kCommandPort = 5002;
inline constexpr char kCommandHost[] = "255.255.255.255";
inline constexpr std::size_t kMinFeedbackFields = 8;
inline constexpr std::size_t kMaxDatagram = 9216;
inline constexpr char kAbsentField[] = "---";

enum Code : int {
  kSimpleFeedback = 0, kPlay = 1, kPause = 2, kRename = 3, kLoadPlaylist = 4, kMenuOff = 5,
  kMenuOn = 6, kClearList = 7, kNext = 8, kClearContent = 9, kMuteOn = 10, kMuteOff = 11,
  kWebStream = 12, kBack = 13, kLoadSchedule = 14, kRefreshLists = 15, kReset = 16, kBackground = 17,
};

// player id, code, then the arguments, joined by the separator.
std::string encode_command(std::string_view player_id, int code,
                           std::initializer_list<std::string_view> arguments = {});
std::string encode_command(std::string_view player_id, int code, const std::vector<std::string>& arguments);
// The simple feedback request: "0", separator, "0".
std::string simple_feedback_request();

struct Feedback {
  std::string device_id;
  std::string device_name;
  std::int32_t status_device = 0;
  std::int32_t status_player = 0;
  std::string id_playlist;
  std::string id_track;
  std::int32_t status_menue = 0;
  std::int32_t status_sound = 0;
  std::string device_time;
  std::string device_background;
  std::string device_ip;
};

// Why a feedback datagram was dropped.
enum class Drop { not_utf8, too_few_fields, bad_id, too_long };
const char* drop_reason(Drop why);

// Nothing for bytes that are not UTF-8, hold fewer than 8 fields, or whose
// id is empty or holds a NUL (`why`, when given, says which).
std::optional<Feedback> decode_feedback(std::string_view bytes, std::string_view sender_host, Drop* why = nullptr);

// Helpers the decoder is built from.
bool is_valid_utf8(std::string_view bytes);
std::vector<std::string_view> split_fields(std::string_view text);
// Leading white space, optional sign, digits; clamped to 32 bits; 0 without digits.
std::int32_t parse_int_field(std::string_view field);
// The sender text with every "::ffff:" removed.
std::string strip_mapped_prefix(std::string_view host);
// True when an operator-typed argument would be split by the players.
bool contains_separator(std::string_view text);

}  // namespace tavri::wire
