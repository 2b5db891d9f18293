#include "tavri_defaults.h"

#include <QFontDatabase>

namespace tavri {

QFont tavri_defaults::font(const QString& name, double points) {
  QFont font;
  const bool bold = name.endsWith("-Bold");
  const QString family = bold ? name.left(name.size() - 5) : name;
  if (QFontDatabase::families().contains(family)) font.setFamily(family);
  font.setBold(bold);
  font.setPointSizeF(points);
  return font;
}

}  // namespace tavri
