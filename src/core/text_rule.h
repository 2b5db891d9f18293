#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// The one rule for text that comes from outside (players, browsers,
// scripts, imports, backups) and is kept, shown or sent on: valid UTF-8,
// no NUL or other control character (C0, DEL, C1), a length cap per kind,
// and in ids and file names no character that reorders text around it
// (bidi overrides, embeddings, isolates and marks), which would let one
// id look like another.
namespace tavri::text_rule {

enum class Kind {
  id,         // a player's or a list's id: 128 characters
  name,       // a player's, playlist's, schedule's or task's name: 256
  file_name,  // a file of the content folder: 255 bytes, as the file system takes
  address,    // a web stream's address, a track or a background: 2048
};

std::size_t max_length(Kind kind);

// Why `utf8` breaks the rule for `kind`, in words for the operator; nothing
// when it keeps it.
std::optional<std::string> problem(std::string_view utf8, Kind kind);
// The same for text already decoded, where a lone surrogate can hide.
std::optional<QString> problem(const QString& text, Kind kind);

// Takes out of `records` each one whose text under a key breaks the rule
// for its kind; one line per record taken ("record 3 (id 7): a name must
// not hold control characters").
QStringList drop_breaking_text(QList<QVariantMap>& records, std::initializer_list<std::pair<QString, Kind>> keys);

// `text` with every control character written as \xHH (or \u{HHHH}), for a
// terminal: what a player calls itself must not move the cursor or ring.
std::string escape_controls(std::string_view utf8);

}  // namespace tavri::text_rule
