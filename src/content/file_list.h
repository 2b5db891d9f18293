#pragma once
#include <QObject>
#include <QUrl>

#include "core/bus.h"
#include "core/dialogs.h"
#include "core/record_list.h"

namespace tavri {

// The content folder and its content items.
class FileList : public QObject {
  Q_OBJECT
 public:
  FileList(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);

  RecordList& ArrayController_FILELIST() { return files_; }
  QUrl folder_url() const { return folder_url_; }
  QString select_label_path() const { return label_; }

  void press_select();
  void scan_folder();
  void save();
  void applicationDidFinishLaunching();  // the LOAD handler
  void send_url();

 signals:
  void label_changed(const QString& text);

 private:
  void set_label(const QString& text);
  void folder_chosen(const QUrl& url);

  Bus& bus_;
  Dialogs& dialogs_;
  RecordList files_;
  QUrl folder_url_;
  QString label_;
};

// "%20" becomes a space; the last path component of the URL text.
QString folder_label_for(const QUrl& folder);

}  // namespace tavri
