#pragma once
#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>

#include "record.h"

namespace tavri {

// A playlist record's "movielist": its items encoded as a keyed archive
// whose root is the list of item records. Decoded afresh by every reader,
// replaced whole by every writer.
// Without images the thumbnails come back as null images (for readers that
// only look at the other keys).
RecordArray decode_movielist(const Record& playlist, bool with_images = true);
// The same, but nothing when a blob is there and cannot be decoded, so that
// writers keep it instead of replacing it with an empty list.
std::optional<RecordArray> try_decode_movielist(const Record& playlist, bool with_images = true);
// Stores the items and their count in "movies".
void store_movielist(Record& playlist, const RecordArray& items);

// An item may carry a first and a last date (yyyy-MM-dd, our own keys):
// outside them it is left out of what the players get.
inline constexpr char kItemFirstDate[] = "first_date";
inline constexpr char kItemLastDate[] = "last_date";
bool plays_on(const Record& item, const QDate& day);
// Why an item does not play on `day` ("ended 2026-12-06", "starts
// 2026-12-20"); empty when it plays.
QString why_not_playing(const Record& item, const QDate& day);

// The items as published for the players on `day`: thumbnails replaced by
// "KEIN BILD", items out of their dates left out, our own keys removed.
QVariantList published_items(const Record& playlist, const QDate& day);

// The file names of the playlist's items whose files are not there (a
// player told to load it would go to DEVICE ERROR), in item order, once each.
QStringList missing_files(const Record& playlist);

// A typed number: leading white space, an optional sign, then digits up to
// the first other character; 0 without digits.
int read_integer(const QString& text);

}  // namespace tavri
