#pragma once
#include "media_probe.h"

namespace tavri {

// The movie decoder itself, in the calling process. Only the probe helper
// links it; the application asks the helper (see media_probe.h).
MediaInfo decode_media(const QString& path, QImage* first_frame = nullptr, int max_side = 0);
QImage decode_first_video_frame(const QString& path, int max_side);

}  // namespace tavri
