#include "artwork.h"

#include <QFile>
#include <QHash>
#include <mutex>

namespace tavri {

PngImage artwork(const QString& name) {
  static std::mutex mutex;
  static QHash<QString, PngImage> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(name);
  if (it == cache.end()) {
    QFile file(":/artwork/" + (name.endsWith(".png") ? name : name + ".png"));
    it = cache.insert(name, PngImage{file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()});
  }
  return *it;
}

}  // namespace tavri
