#pragma once
#include <QColor>
#include <QFont>
#include <QString>

namespace tavri {

// The fixed look of every window: palette, sizes (points) and font names.
struct tavri_defaults {
  static QColor color_tavri_text() { return QColor(255, 255, 255); }
  static QColor color_tavri_title() { return QColor(209, 227, 23); }
  static QColor color_tavri_green() { return QColor(209, 227, 23); }
  static QColor color_tavri_green_select() { return QColor(209, 227, 23, 128); }
  // Text on a selected row, whatever its own colour: white, grey or red on
  // the selection green would fall below 4.5:1 contrast.
  static QColor color_tavri_text_on_select() { return QColor(16, 16, 16); }
  // Scroll bars in the application's greys, for every window.
  static QString scroll_bar_style() {
    return QString(
               "QScrollBar:vertical { background: %1; width: 10px; margin: 0; }"
               "QScrollBar:horizontal { background: %1; height: 10px; margin: 0; }"
               "QScrollBar::handle { background: %2; border-radius: 4px; min-height: 20px; min-width: 20px; }"
               "QScrollBar::handle:hover { background: %3; }"
               "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
               "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
        .arg(color_tavri_dark_gray().name(), color_tavri_gray().lighter(140).name(), color_tavri_green().name());
  }
  // The buttons' look, for push and tool buttons alike ("QPushButton").
  static QString button_style(const QString& type, const QString& extra = {}) {
    return QString("%1 { background: %2; color: %3; border: %4px solid black; border-radius: %5px; %7 }"
                   " %1:pressed { background: %6; } %1:disabled { color: %8; }")
        .arg(type, color_tavri_gray().name(), color_tavri_green().name())
        .arg(float_border_width)
        .arg(float_border_round)
        .arg(color_tavri_dark_gray().name(), extra, color_tavri_light_gray().name());
  }
  // Dialogs, and the highlight of text being edited, in the same greys.
  static QString dialog_style() {
    return QString(
               "QDialog, QMessageBox { background: %1; } QDialog QLabel, QMessageBox QLabel { color: %3; }"
               "QDialog QPushButton, QMessageBox QPushButton { background: %2; color: %4; border: 1px solid %5;"
               " padding: 4px 14px; } QDialog QPushButton:default, QMessageBox QPushButton:default { border-color: %4; }"
               "QLineEdit, QDateTimeEdit { background: %2; color: %3; border: 1px solid %5; padding: 2px;"
               " selection-background-color: %4; selection-color: %6; } QLineEdit:focus, QDateTimeEdit:focus"
               " { border-color: %4; }")
        .arg(color_tavri_dark_gray().name(), color_tavri_gray().name(), color_tavri_text().name(),
             color_tavri_green().name(), color_tavri_light_gray().name(), color_tavri_text_on_select().name());
  }
  static QColor color_tavri_dark_gray() { return QColor(50, 50, 50); }
  static QColor color_tavri_gray() { return QColor(75, 75, 75); }
  static QColor color_tavri_light_gray() { return QColor(125, 125, 125); }
  static QColor color_tavri_orange() { return QColor::fromRgbF(0.8f, 0.5f, 0.0f); }
  static QColor color_tavri_red() { return QColor::fromRgbF(0.7f, 0.0f, 0.0f); }

  static constexpr double float_box_width = 1.0;
  static constexpr double float_border_width = 1.0;
  static constexpr double float_title_height = 12.0;
  static constexpr double float_button_height = 10.0;
  static constexpr double float_border_round = 5.0;

  static QString fontname_normal() { return "NettoOT"; }
  static QString fontname_bold() { return "NettoOT-Bold"; }
  static QString fontname_number() { return "NettoComp"; }

  // The named font at a size in points; the system font when it is absent.
  static QFont font(const QString& name, double points);
};

}  // namespace tavri
