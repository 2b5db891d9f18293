// Writes the application icon for the package: PNGs of 16 to 512 px in
// hicolor folders, and the SVG.
//   export_icons OUTPUT_FOLDER
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>

#include "ui/app_icon.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString out = argv[1];
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
    const QString dir = QString("%1/hicolor/%2x%2/apps").arg(out).arg(size);
    QDir().mkpath(dir);
    if (!tavri::app_icon(size).save(dir + "/tavri-av-server.png")) return 1;
  }
  QDir().mkpath(out + "/hicolor/scalable/apps");
  QFile svg(out + "/hicolor/scalable/apps/tavri-av-server.svg");
  if (!svg.open(QIODevice::WriteOnly) || svg.write(tavri::app_icon_svg()) < 0) return 1;
  return 0;
}
