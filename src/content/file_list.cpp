#include "file_list.h"

#include "core/console.h"
#include "core/folders.h"
#include "core/main_queue.h"
#include "core/notifications.h"

namespace tavri {

namespace {
constexpr char kNoFolder[] = "ANY FOLDER SELECTED";

// File-system path of a folder URL, without trailing slash.
QString folder_path(const QUrl& url) {
  QString path = url.toLocalFile();
  while (path.size() > 1 && path.endsWith('/')) path.chop(1);
  return path;
}
}  // namespace

QString folder_label_for(const QUrl& folder) {
  QString text = QString::fromUtf8(folder.toEncoded());
  text.replace("%20", " ");
  while (text.endsWith('/')) text.chop(1);
  return text.mid(text.lastIndexOf('/') + 1);
}

FileList::FileList(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { applicationDidFinishLaunching(); });
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::GET_URL, [this](const QVariant&) { send_url(); });
  set_label(kNoFolder);
}

void FileList::set_label(const QString& text) {
  label_ = text;
  emit label_changed(text);
}

void FileList::press_select() {
  PanelOptions options;
  options.choose_files = false;
  options.choose_directories = true;
  options.multiple = false;
  options.prompt = "Select your folder";
  const auto chosen = dialogs_.open_panel(options);
  if (!chosen || chosen->isEmpty()) return;
  QString path = chosen->first();
  if (!path.endsWith('/')) path += '/';
  const QUrl url = QUrl::fromLocalFile(path);
  console_log(QString("folder: %1").arg(QString::fromUtf8(url.toEncoded())));
  folder_chosen(url);
  scan_folder();
}

void FileList::folder_chosen(const QUrl& url) {
  folder_url_ = url;
  set_label(folder_label_for(url));
  bus_.post(note::SET_SERVER_PATH, folder_path(url));
}

void FileList::scan_folder() {
  // The content items are built by the content library.
  files_.clear();
}

void FileList::save() {
  const QString path = documents_folder() + "/" + kFolderFile;
  if (!folder_url_.isValid() || folder_url_.isEmpty()) {
    console_log(kSaveErrorTag);
    console_log("no content folder chosen");
    return;
  }
  save_file_logged(path, folder_url_.toEncoded(), "SAVE FILELIST!!!!!");
}

void FileList::applicationDidFinishLaunching() {
  set_label(kNoFolder);
  const auto bytes = read_file(documents_folder() + "/" + kFolderFile);
  if (!bytes || bytes->isEmpty()) return;
  folder_url_ = QUrl::fromEncoded(*bytes);
  set_label(folder_label_for(folder_url_));
  console_log("LOAD FILELIST!!!!!");
  run_after(0.5, [this] { scan_folder(); });
  bus_.post(note::SET_SERVER_PATH, folder_path(folder_url_));
}

void FileList::send_url() {
  bus_.post(note::FOLDER_URL, folder_url_.isEmpty() ? QVariant() : QVariant(folder_url_));
}

}  // namespace tavri
