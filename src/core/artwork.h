#pragma once
#include <QString>

#include "record.h"

namespace tavri {

// The pictures that records carry (thumbnails of what has none of its own,
// the players' map icons), as PNG bytes made once from the window's
// drawings: "ICON_ONLINE", "ICON_OFFLINE", "tavri_icon_send",
// "tavri_icon_file", "tavri_icon_fragezeichen.png". Unknown names give a
// null picture. Each name's bytes are shared by every record that holds
// them. Safe from any thread.
PngImage artwork(const QString& name);

}  // namespace tavri
