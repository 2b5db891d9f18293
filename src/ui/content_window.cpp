#include "content_window.h"
#include "display_colors.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QAction>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "content/content_item.h"
#include "content_preview.h"
#include "record_table.h"
#include "widgets/tavri_defaults.h"
#include "window_parts.h"

namespace tavri {

ContentWindow::ContentWindow(FileList& files, QWidget* parent)
    : ToolWindowWidget("WINDOW_CONTENTLIST", "Content", parent), files_(files) {
  auto* layout = new QVBoxLayout(this);
  auto* title = new tavri_title_text("Content folder", this);
  label_ = new tavri_text(files.select_label_path(), this);
  label_->setObjectName("select_label_path");
  // The label is the folder's last name, as it always read: the tooltip says what it is and where.
  const auto explain = [this, &files] {
    const QString path = files.folder_path();
    label_->setToolTip(path.isEmpty() ? QString("No content folder is chosen: the players have nothing to download")
                                      : QString("The content folder, %1: what the players download (port 5003)").arg(path));
  };
  explain();
  connect(&files, &FileList::label_changed, label_, [this, explain](const QString& text) {
    label_->set_text(text);
    explain();
  });

  auto column = [](const char* key, const char* heading, int width) { return Column{key, heading, width}; };
  std::vector<Column> columns;
  columns.push_back(thumbnail_column());
  Column name = column("file_name", "Name", 180);
  name.sortable = true;
  name.foreground = [](const Record& r) { return found_to_color(r.value("file_found")); };
  columns.push_back(name);
  columns.push_back(length_column());
  for (auto [key, heading, width] : {std::tuple{"file_size", "Size", 80}, {"file_resolution", "Resolution", 100},
                                   {"file_fps", "FPS", 55}, {"file_codec", "Codec", 90}, {"file_kind", "Kind", 120},
                                   {"file_change", "Changed", 120}}) {
    Column c = column(key, heading, width);
    c.sortable = true;
    columns.push_back(c);
  }
  table_ = new RecordTable("TableView_FILELIST", files.ArrayController_FILELIST(), columns, this);
  // Content goes into playlists by dragging; files dropped here from the
  // desktop or a file manager are copied in, as "add file" does.
  table_->set_drag_rows(kContentRowsMime);
  table_->set_drop([](const QMimeData& data) { return data.hasUrls(); },
                   [&files](const QMimeData& data, int) {
                     QStringList paths;
                     for (const QUrl& url : data.urls())
                       if (url.isLocalFile()) paths << url.toLocalFile();
                     files.add_files(paths);
                   });

  progress_ = new QProgressBar(this);
  progress_->setObjectName("localProgressIndicator");
  progress_->setRange(0, 10000);
  progress_->setTextVisible(false);
  progress_->setMaximumHeight(8);
  progress_->setStyleSheet(QString("QProgressBar { background: %1; border: none; } QProgressBar::chunk { background: %2; }")
                               .arg(tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_green().name()));
  progress_->hide();
  connect(&files, &FileList::progress_changed, this, [this] {
    progress_->setVisible(files_.progress_visible());
    progress_->setValue(static_cast<int>(files_.progress_value() * 100));
  });

  // The scan runs in the background: its progress, and a way to stop it.
  auto* scan_row = new QWidget(this);
  scan_row->setObjectName("scan_progress");
  auto* scan_layout = new QHBoxLayout(scan_row);
  scan_layout->setContentsMargins(0, 0, 0, 0);
  auto* scan_text = new QLabel(scan_row);
  scan_text->setObjectName("scan_text");
  auto* scan_bar = new QProgressBar(scan_row);
  scan_bar->setTextVisible(false);
  scan_bar->setMaximumHeight(8);
  scan_bar->setStyleSheet(progress_->styleSheet());
  auto* scan_cancel = new QPushButton("CANCEL", scan_row);
  scan_cancel->setObjectName("cancel_scan");
  connect(scan_cancel, &QPushButton::clicked, this, [&files] { files.cancel_scan(); });
  scan_layout->addWidget(scan_text);
  scan_layout->addWidget(scan_bar, 1);
  scan_layout->addWidget(scan_cancel);
  scan_row->hide();
  connect(&files, &FileList::scan_progress_changed, this, [this, scan_row, scan_text, scan_bar] {
    scan_row->setVisible(files_.scanning());
    scan_text->setText(QString("SCANNING %1 / %2").arg(files_.scan_done()).arg(files_.scan_total()));
    scan_bar->setRange(0, std::max(1, files_.scan_total()));
    scan_bar->setValue(files_.scan_done());
  });

  QWidget* buttons = action_bar(this, {{"press_select", "select folder", [&files] { files.press_select(); }, "tavri_icon_file"},
                                         {"rescan_Folder", "rescan", [&files] { files.rescan_Folder(); }},
                                         {"add_File", "add file", [&files] { files.add_File(); }},
                                         {"add_stream", "add stream", [&files] { files.add_stream(); }, "tavri_icon_send"},
                                         {"replace_file", "replace", [&files] { files.replace_file(); }},
                                         {"delete_File", "delete", [&files] { files.delete_File(); }, "tavri_icon_attention"},
                                         {"get_links", "links", [&files] { files.get_links(); }}});
  auto* add = findChild<QAction*>("add_File");
  auto* replace = findChild<QAction*>("replace_file");
  connect(&files, &FileList::buttons_changed, this, [this, add, replace] {
    add->setEnabled(files_.new_button_enabled());
    replace->setEnabled(files_.replace_button_enabled());
  });

  layout->addWidget(title);
  layout->addWidget(label_);
  layout->addWidget(filter_field(this, table_, "TableView_FILELIST_filter"));
  // The table and, beside it, a larger look at what is selected.
  auto* body = new QHBoxLayout;
  body->setContentsMargins(0, 0, 0, 0);
  body->addWidget(table_, 1);
  preview_ = new ContentPreview(files.ArrayController_FILELIST(), this);
  body->addWidget(preview_);
  layout->addLayout(body, 1);
  layout->addWidget(progress_);
  layout->addWidget(scan_row);
  layout->addWidget(buttons);
  resize(900, 420);
}

}  // namespace tavri
