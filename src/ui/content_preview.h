#pragma once
#include <QLabel>
#include <QWidget>

#include "core/record_list.h"

namespace tavri {

// The selected content, larger: its first frame or still, a stream's
// address, and what the scan found out about it.
class ContentPreview : public QWidget {
  Q_OBJECT
 public:
  ContentPreview(RecordList& content, QWidget* parent = nullptr);

  QString details_text() const { return details_->text(); }
  const QLabel* picture() const { return picture_; }

 private:
  void show_selection();
  RecordList& content_;
  QLabel* picture_;
  QLabel* title_;
  QLabel* details_;
};

}  // namespace tavri
