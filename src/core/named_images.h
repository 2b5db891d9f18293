#pragma once
#include <QImage>
#include <QString>

namespace tavri {

// The application's artwork, drawn in code at 64 x 64 and cached:
// "tavri_icon_fragezeichen.png", "tavri_icon_file", "tavri_icon_send",
// "Icon_pause", "Icon_play", "Icon_send", "tavri_icon_attention",
// "icon_menue", "icon_menue_leer", "tavri_mute", "tavri_sound_on",
// "ICON_ONLINE", "ICON_OFFLINE". Unknown names give a null image. Safe from
// any thread.
QImage named_image(const QString& name);

}  // namespace tavri
