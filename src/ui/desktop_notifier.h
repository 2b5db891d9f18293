#pragma once
#include <QString>

namespace tavri {

// A desktop notification: through the system tray where there is one,
// else through the freedesktop notification service on the session bus;
// false when neither answers (the console has the line anyway).
bool notify_desktop(const QString& title, const QString& text);

}  // namespace tavri
