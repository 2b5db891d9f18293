#pragma once
#include <QByteArray>
#include <QSize>
#include <optional>

namespace tavri {

// The pixel size a PNG or JPEG file's header gives, from its first bytes
// (a JPEG's frame header may follow up to 1 MiB of metadata); nothing when
// the bytes are neither or the header is cut or damaged. Nothing is decoded.
std::optional<QSize> picture_size(const QByteArray& head);

// The same, read from the start of a file.
std::optional<QSize> picture_size_of_file(const QString& path);
inline constexpr qsizetype kPictureHeadBytes = 1024 * 1024;

}  // namespace tavri
