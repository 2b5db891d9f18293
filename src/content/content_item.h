#pragma once
#include <QString>
#include <QUrl>
#include <optional>

#include "core/record.h"

namespace tavri {

namespace key {
inline constexpr char IS_IMG[] = "is_img";
inline constexpr char FILE_URL[] = "file_url";
inline constexpr char FILE_NAME[] = "file_name";
inline constexpr char FILE_SIZE[] = "file_size";
inline constexpr char FILE_CREATE[] = "file_create";
inline constexpr char FILE_CHANGE[] = "file_change";
inline constexpr char FILE_ICON[] = "file_icon";
inline constexpr char FILE_ID[] = "file_id";
inline constexpr char FILE_FOUND[] = "file_found";
inline constexpr char FILE_FPS[] = "file_fps";
inline constexpr char FILE_LENGTH[] = "file_length";
inline constexpr char FILE_KIND[] = "file_kind";
inline constexpr char FILE_TRACKS[] = "file_tracks";
inline constexpr char FILE_RESOLUTION[] = "file_resolution";
inline constexpr char FILE_BITRATE[] = "file_bitrate";
inline constexpr char FILE_CODEC[] = "file_codec";
}  // namespace key

enum class ContentKind { none, movie, image, stream };

// By the upper-cased extension of the name alone.
ContentKind content_kind_of(const QString& file_name);

// The name without its extension, percent escapes decoded once when they
// are all valid.
QString content_file_name(const QString& path);

// Items; nothing when the file's attributes cannot be read.
std::optional<Record> movie_item(const QUrl& url);
std::optional<Record> image_item(const QUrl& url);
std::optional<Record> stream_item(const QUrl& url);
std::optional<Record> item_for_kind(ContentKind kind, const QUrl& url);

// The media keys alone.
Record movie_informations(const QUrl& url);
Record image_informations(const QUrl& url);
Record stream_informations(const QUrl& url);

// Thumbnails are 300 x 300, the picture fitted and centred, the rest clear.
inline constexpr int kThumbSide = 300;

// The length as the content and playlist tables show it.
QString length_in_timecode(const QVariant& value);

}  // namespace tavri
