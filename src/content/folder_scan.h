#pragma once
#include <QStringList>
#include <QUrl>

#include "core/record.h"

namespace tavri {

// Names of the regular files directly inside the folder (links followed),
// hidden ones included, in the order the file system lists them; none when
// it cannot be read.
QStringList list_folder(const QString& path);

// The content items of the named entries: all movies, then all images, then
// all streams, each group in the order of names. Built on `threads` worker
// threads (0: one per core); the result is the same for any count.
RecordArray build_content_items(const QUrl& folder, const QStringList& names, int threads = 0);

}  // namespace tavri
