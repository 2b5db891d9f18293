#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace tavri {

// Fixed file and folder names of the saved state.
inline constexpr char kFolderFile[] = "tavri_AV_SERVER_FOLDER.sav";
inline constexpr char kPlaylistFile[] = "tavri_AV_SERVER_PLAYLIST.sav";
inline constexpr char kScheduleFile[] = "tavri_AV_SERVER_SCHEDULELIST.sav";
inline constexpr char kRegistryFile[] = "tavri_AV_SERVER_DATA.sav";
inline constexpr char kWindowsFile[] = "tavri_AV_SERVER_WINDOWS.sav";
inline constexpr char kHistoryFile[] = "tavri_AV_SERVER_HISTORY.sqlite";
// Where notifications go, with their secrets: not in backups.
inline constexpr char kNotificationsFile[] = "tavri_AV_SERVER_NOTIFICATIONS.json";
inline constexpr char kGroupsFile[] = "tavri_AV_SERVER_GROUPS.json";
inline constexpr char kAnnouncementFile[] = "tavri_AV_SERVER_ANNOUNCEMENT.json";
inline constexpr char kApplicationFolder[] = "tavri_av_server";
inline constexpr char kTempFolder[] = "temp";
inline constexpr char kRegistryWorkingCopy[] = "tmp_34_56_3234.temp";
inline constexpr char kSaveErrorTag[] = "SAVE ERROR !!!!!";

// The user's documents folder (catalogue files live directly in it).
QString documents_folder();
// The application-support directory, created when missing.
QString app_support_folder();
// "tavri_av_server" inside the application-support directory (not created).
QString application_folder();

// The registry's working copy, beside the saved registry and read first
// when it is newer.
QString registry_working_copy_path();

// Writes the whole file so that readers see the old or the new bytes only.
// On failure the previous file is untouched and the error text is returned.
std::optional<QString> write_file_atomically(const QString& path, const QByteArray& bytes);
// Logs the save tag on success (none when empty), or "SAVE ERROR !!!!!" and
// the error line.
bool save_file_logged(const QString& path, const QByteArray& bytes, const QString& save_tag);
// Nothing when the file is missing or unreadable.
std::optional<QByteArray> read_file(const QString& path);

// Keeps a copy of a file that could not be decoded beside it, under a name
// of its own ("<name>.damaged-<time>"), so that the next save does not
// destroy what the operator had. The copy's path, or empty when none could be made.
QString keep_damaged_copy(const QString& path);

}  // namespace tavri
