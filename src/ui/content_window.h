#pragma once
#include <QProgressBar>

#include "content/file_list.h"
#include "tool_window_widget.h"
#include "widgets/tavri_text.h"

namespace tavri {

class RecordTable;

// The content library: folder, content items, copy progress and editing.
class ContentWindow : public ToolWindowWidget {
  Q_OBJECT
 public:
  explicit ContentWindow(FileList& files, QWidget* parent = nullptr);
  RecordTable* table() { return table_; }
  class ContentPreview* preview() { return preview_; }

 private:
  class ContentPreview* preview_ = nullptr;
  FileList& files_;
  RecordTable* table_;
  QProgressBar* progress_;
  tavri_text* label_;
};

}  // namespace tavri
