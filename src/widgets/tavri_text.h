#pragma once
#include <QLabel>

#include "tavri_defaults.h"

namespace tavri {

// Body text: upper case (the stored string), white.
class tavri_text : public QLabel {
  Q_OBJECT
 public:
  explicit tavri_text(const QString& text = {}, QWidget* parent = nullptr) : QLabel(parent) {
    setFont(tavri_defaults::font(tavri_defaults::fontname_normal(), tavri_defaults::float_title_height));
    setStyleSheet(QString("color: %1;").arg(tavri_defaults::color_tavri_text().name()));
    set_text(text);
  }
  void set_text(const QString& text) { setText(text.toUpper()); }
};

// Titles: bold, green, upper case.
class tavri_title_text : public QLabel {
  Q_OBJECT
 public:
  explicit tavri_title_text(const QString& text = {}, QWidget* parent = nullptr) : QLabel(parent) {
    setFont(tavri_defaults::font(tavri_defaults::fontname_bold(), tavri_defaults::float_title_height));
    setStyleSheet(QString("color: %1;").arg(tavri_defaults::color_tavri_green().name()));
    set_text(text);
  }
  void set_text(const QString& text) { setText(text.toUpper()); }
};

}  // namespace tavri
