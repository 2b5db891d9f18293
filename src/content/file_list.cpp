#include "file_list.h"

#include <QFileInfo>
#include <QPointer>

#include "content/content_item.h"
#include "content/folder_scan.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/main_queue.h"
#include "core/notifications.h"

namespace tavri {

namespace {
constexpr char kNoFolder[] = "ANY FOLDER SELECTED";
constexpr int kLabelLimit = 200;
// A folder file longer than this is not a folder URL written by us.
constexpr qsizetype kFolderFileLimit = 4096;
constexpr int kFolderWatchMs = 2000;

QString elided(const QString& text) {
  if (text.size() <= kLabelLimit) return text;
  return text.left(kLabelLimit / 2) + QChar(0x2026) + text.right(kLabelLimit / 2 - 1);
}
}  // namespace

QString folder_label_for(const QUrl& folder) {
  QString text = QString::fromUtf8(folder.toEncoded());
  text.replace("%20", " ");
  while (text.endsWith('/')) text.chop(1);
  return text.mid(text.lastIndexOf('/') + 1);
}

FileList::FileList(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs), transfer_context_(std::make_unique<QObject>()) {
  folder_watch_.setInterval(kFolderWatchMs);
  connect(&folder_watch_, &QTimer::timeout, this, [this] {
    if (!folder_known() || !folder_reachable()) return;
    folder_watch_.stop();
    console_log(QString("content folder reachable again: %1").arg(folder_path()));
    bus_.post(note::SET_SERVER_PATH, folder_path());
    scan_folder();
  });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { applicationDidFinishLaunching(); });
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::GET_URL, [this](const QVariant&) { send_url(); });
  set_label(kNoFolder);
}

FileList::~FileList() {
  bus_.unregister(this);
  // Running copies stop at their next block and remove their temporary
  // files; their workers are joined before the context they report to goes.
  for (auto& transfer : transfers_) transfer->cancel();
  transfers_.clear();
  transfer_context_.reset();
}

std::optional<Record> FileList::FILE_LIST_ITEM_BY_FILE_URL(const QUrl& url) { return movie_item(url); }
std::optional<Record> FileList::FILE_LIST_IMG_ITEM_BY_FILE_URL(const QUrl& url) { return image_item(url); }
std::optional<Record> FileList::FILE_LIST_STREAM_ITEM_BY_FILE_URL(const QUrl& url) { return stream_item(url); }

void FileList::set_label(const QString& text) {
  label_ = elided(text);
  emit label_changed(label_);
}

bool FileList::folder_reachable() const {
  const QFileInfo info(folder_path());
  return info.isDir() && info.isReadable() && info.isExecutable();
}

QString FileList::folder_path() const {
  QString path = folder_url_.toLocalFile();
  while (path.size() > 1 && path.endsWith('/')) path.chop(1);
  return path;
}

void FileList::press_select() {
  const auto chosen = dialogs_.open_panel(PanelOptions::folder("Select your folder"));
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
  folder_watch_.stop();
  unreachable_reported_ = false;
  set_label(folder_label_for(url));
  bus_.post(note::SET_SERVER_PATH, folder_path());
}

void FileList::scan_folder() {
  files_.clear();
  if (folder_known() && !folder_reachable()) {
    // A disk or share not mounted yet: every item would look missing, so
    // nothing is relinked or offered for unlinking until it comes back.
    const QString line = QString("content folder not reachable: %1").arg(folder_path());
    console_log(line);
    if (!unreachable_reported_)
      dialogs_.alert(line, "The playlists keep their items. The folder is scanned as soon as it can be read.", {"OK"});
    unreachable_reported_ = true;
    folder_watch_.start();
    return;
  }
  unreachable_reported_ = false;
  const QStringList names = folder_known() ? list_folder(folder_url_.toLocalFile()) : QStringList();
  for (const QString& name : names) console_log(QString("CHECK FILE: %1").arg(name));
  // Items are built on worker threads and appended here in pass order.
  files_.set_records(build_content_items(folder_url_, names, scan_threads_));  // the table reloads
  QPointer<FileList> self(this);
  run_after(0.5, [self] { run_next([self] { if (self) self->relink_files(); }); });
}

void FileList::save() {
  if (!folder_known()) {
    console_log(kSaveErrorTag);
    console_log("no content folder chosen");
    return;
  }
  save_file_logged(documents_folder() + "/" + kFolderFile, folder_url_.toEncoded(), "SAVE FILELIST!!!!!");
}

void FileList::applicationDidFinishLaunching() {
  hide_progress();
  set_label(kNoFolder);
  const auto bytes = read_file(documents_folder() + "/" + kFolderFile);
  if (!bytes || bytes->isEmpty()) return;
  const QUrl url = QUrl::fromEncoded(bytes->trimmed());
  // Anything but a short file URL would leave an empty folder path, and
  // new files would be written into "/".
  if (bytes->size() > kFolderFileLimit || !url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
    console_log(QString("LOAD FILELIST: %1 holds no folder URL, ignored").arg(kFolderFile));
    return;
  }
  folder_url_ = url;
  set_label(folder_label_for(folder_url_));
  console_log("LOAD FILELIST!!!!!");
  QPointer<FileList> self(this);
  run_after(0.5, [self] { if (self) self->scan_folder(); });
  // A missing root is not served; the watch starts the server once it appears.
  if (folder_reachable()) bus_.post(note::SET_SERVER_PATH, folder_path());
}

void FileList::send_url() { bus_.post(note::FOLDER_URL, folder_known() ? QVariant(folder_url_) : QVariant()); }

}  // namespace tavri
