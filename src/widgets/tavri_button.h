#pragma once
#include <QImage>
#include <QPushButton>

namespace tavri {

// A flat grey button with green upper-case title and an optional image,
// redrawn to the button's size less 8 points each way.
class tavri_button : public QPushButton {
  Q_OBJECT
 public:
  explicit tavri_button(const QString& title, QWidget* parent = nullptr, const QImage& image = {});
  // The title is stored in upper case, not only shown so.
  void set_title(const QString& title);
  void set_image(const QImage& image);
  const QImage& button_image() const { return image_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void redraw_image();
  QImage source_;
  QImage image_;
};

}  // namespace tavri
