#pragma once
#include <QByteArray>
#include <QImage>

namespace tavri {

// The application's icon: a green screen with a play mark on the dark
// ground of the windows, drawn from one set of shapes as pixels and as SVG.
QImage app_icon(int size);
QByteArray app_icon_svg();

}  // namespace tavri
