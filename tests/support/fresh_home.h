#pragma once
#include <QDir>
#include <QString>

namespace tavri::test {

// HOME and the XDG folders point into `home`: whatever the application
// saves lands there, never in the user's own folders.
inline void use_home(const QString& home) {
  qputenv("HOME", home.toUtf8());
  qputenv("XDG_DATA_HOME", (home + "/.local/share").toUtf8());
  qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
  qputenv("XDG_DOCUMENTS_DIR", (home + "/Documents").toUtf8());
  QDir().mkpath(home + "/Documents");
}

}  // namespace tavri::test
