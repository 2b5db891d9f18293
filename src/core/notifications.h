#pragma once

// The complete vocabulary of the notification bus.
namespace tavri::note {

inline constexpr char SAVE[] = "SAVE";
inline constexpr char LOAD[] = "LOAD";
inline constexpr char INIT[] = "init";
inline constexpr char APPLICATION_DID_FINISH_LAUNCHING[] = "applicationDidFinishLaunching";
inline constexpr char INIT_SERVER[] = "INIT_SERVER";
inline constexpr char START_SERVER[] = "START_SERVER";
inline constexpr char SET_SERVER_PATH[] = "SET_SERVER_PATH";
inline constexpr char GET_URL[] = "GET_URL";
inline constexpr char FOLDER_URL[] = "FOLDER_URL";
inline constexpr char PLAYLIST_DID_CHANGE[] = "playlist_did_change";
inline constexpr char SCHEDULE_LIST_DID_CHANGE[] = "schedule_list_did_change";
// A playlist's file was written; the object is its id. Schedules that embed it follow.
inline constexpr char PLAYLIST_DID_PUBLISH[] = "playlist_did_publish";
// Records came back (an undo): every published file is checked and written again.
inline constexpr char PUBLISH_STALE_FILES[] = "publish_stale_files";
inline constexpr char SAVE_ALL_LISTS[] = "morvane_save_all_lists";
inline constexpr char SEND_PLAYLIST[] = "SEND_PLAYLIST";
inline constexpr char PLAYLISTARRAY_WILL_HAVE_FEEDBACK[] = "PLAYLISTARRAY_WILL_HAVE_FEEDBACK";
inline constexpr char PLAYLISTARRAY_GET_FEEDBACK[] = "PLAYLISTARRAY_GET_FEEDBACK";
inline constexpr char SELECT_BY_MAP[] = "SELECT_BY_MAP";
inline constexpr char HTTP_CONNECTION_DID_DIE[] = "HttpConnectionDidDie";

}  // namespace tavri::note
