#pragma once
#include <QImage>
#include <QString>
#include <QVariant>

#include "core/record.h"

namespace tavri {

// The application's artwork, drawn in code at 64 x 64 and cached:
// "tavri_icon_fragezeichen.png", "tavri_icon_file", "tavri_icon_send",
// "Icon_pause", "Icon_play", "Icon_send", "tavri_icon_attention",
// "icon_menue", "icon_menue_leer", "tavri_mute", "tavri_sound_on",
// "ICON_ONLINE", "ICON_OFFLINE". Unknown names give a null image. Safe from
// any thread.
QImage named_image(const QString& name);

// A record's picture for drawing: decoded once per distinct bytes. A null
// image for what is no picture or cannot be decoded.
QImage picture_of(const PngImage& image);
QImage picture_of(const QVariant& value);
// The PNG bytes that records keep of a picture drawn or opened here.
PngImage png_of(const QImage& image);

}  // namespace tavri
