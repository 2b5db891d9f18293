#include "desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include "ui/named_images.h"

namespace tavri {

bool notify_desktop(const QString& title, const QString& text) {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    static QSystemTrayIcon* tray = [] {
      auto* icon = new QSystemTrayIcon(QIcon(QPixmap::fromImage(named_image("ICON_ONLINE"))));
      icon->setToolTip("tavri AV server");
      icon->show();
      return icon;
    }();
    tray->showMessage(title, text, QSystemTrayIcon::Warning, 10000);
    return true;
  }
  QDBusInterface service("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                         "org.freedesktop.Notifications", QDBusConnection::sessionBus());
  if (!service.isValid()) return false;
  const QDBusReply<uint> reply =
      service.call("Notify", QString("tavri AV server"), uint(0), QString(), title, text, QStringList(), QVariantMap(),
                   int(10000));
  return reply.isValid();
}

}  // namespace tavri
