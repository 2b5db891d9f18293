#pragma once
#include "media_probe.h"

namespace tavri {

// The movie decoder itself, in the calling process. Only the probe helper
// links it; the application asks the helper (see media_probe.h).
MediaInfo decode_media(const QString& path, QByteArray* thumbnail = nullptr, int side = 0);
QByteArray decode_thumbnail(const QString& path, int side);

}  // namespace tavri
