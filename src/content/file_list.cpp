#include "file_list.h"

#include <QFileInfo>
#include <QPointer>

#include "content/content_item.h"
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
constexpr int kWatchSettleMs = 1000;

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
  scan_progress_timer_.setInterval(100);
  connect(&scan_progress_timer_, &QTimer::timeout, this, &FileList::scan_progress_changed);
  watch_settle_.setSingleShot(true);
  watch_settle_.setInterval(kWatchSettleMs);
  connect(&watch_settle_, &QTimer::timeout, this, &FileList::folder_changed_outside);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    settle_prints_.clear();
    watch_settle_.start();
  });
  folder_watch_.setInterval(kFolderWatchMs);
  connect(&folder_watch_, &QTimer::timeout, this, [this] {
    if (!folder_known() || !folder_reachable()) return;
    folder_watch_.stop();
    console_log(QString("content folder reachable again: %1").arg(folder_path()));
    bus_.post(note::SET_SERVER_PATH, folder_path());
    scan_folder();
  });
  // The folder is known before any list loads: the lists loaded before the
  // content list publish into it instead of failing for want of it.
  bus_.register_observer(this, note::APPLICATION_DID_FINISH_LAUNCHING, [this](const QVariant&) {
    if (!folder_known()) read_saved_folder();
  });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { applicationDidFinishLaunching(); });
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::GET_URL, [this](const QVariant&) { send_url(); });
  set_label(kNoFolder);
}

FileList::~FileList() {
  bus_.unregister(this);
  scan_.reset();
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
  PanelOptions options = PanelOptions::folder("Select your folder");
  if (folder_known()) options.directory = folder_path();
  const auto chosen = dialogs_.open_panel(options);
  if (chosen && !chosen->isEmpty()) choose_folder(chosen->first());
}

Outcome FileList::choose_folder(QString path) {
  const QFileInfo info(path);
  if (!info.isAbsolute()) return Outcome::bad("folder", QString("\"%1\" is not an absolute path").arg(path));
  if (!info.isDir()) return Outcome::bad("folder", QString("\"%1\" is not a folder").arg(path));
  if (!path.endsWith('/')) path += '/';
  const QUrl url = QUrl::fromLocalFile(path);
  console_log(QString("folder: %1").arg(QString::fromUtf8(url.toEncoded())));
  folder_chosen(url);
  scan_folder();
  return Outcome::done();
}

void FileList::folder_chosen(const QUrl& url) {
  folder_url_ = url;
  ignored_missing_.clear();
  folder_watch_.stop();
  unreachable_reported_ = false;
  set_label(folder_label_for(url));
  bus_.post(note::SET_SERVER_PATH, folder_path());
  // Written now, not at quit: a crash or a power cut must not forget it.
  save();
}

void FileList::scan_folder() {
  if (folder_known() && !folder_reachable()) {
    cancel_scan();
    files_.clear();
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
  watch_folder();
  // A newer scan replaces one still running; the list itself is replaced as
  // a whole when the scan completes, and the relink follows it.
  FolderScanJob::retire(std::move(scan_));
  scan_ = std::make_unique<FolderScanJob>(folder_url_, names, known_items_, scan_threads_);
  scan_clock_.start();
  // Only the current scan's result is taken: one that arrives after a newer
  // scan started, or after Cancel, is dropped.
  scan_->start(this, [this, serial = ++scan_serial_](RecordArray items, KnownItems built) {
    if (scan_ && serial == scan_serial_) scan_finished(std::move(items), std::move(built));
  });
  scan_progress_timer_.start();
  emit scan_progress_changed();
}

void FileList::scan_finished(RecordArray items, KnownItems built) {
  last_scan_ms_ = scan_clock_.elapsed();
  console_log(QString("SCAN DONE: %1 items, %2 probed").arg(items.size()).arg(scan_ ? scan_->probed() : 0));
  scan_.reset();
  scan_progress_timer_.stop();
  known_items_ = std::move(built);
  // What the scan saw is what later changes are compared with: no second look.
  watched_prints_.clear();
  for (auto it = known_items_.constBegin(); it != known_items_.constEnd(); ++it)
    watched_prints_.insert(QFileInfo(it.key()).fileName(), it->print);
  files_.set_records(items);  // the table reloads
  emit scan_progress_changed();
  QPointer<FileList> self(this);
  run_after(0.5, [self] { run_next([self] { if (self) self->relink_files(); }); });
}

void FileList::cancel_scan() {
  if (!scan_) return;
  console_log("SCAN CANCELLED");
  FolderScanJob::retire(std::move(scan_));
  scan_progress_timer_.stop();
  emit scan_progress_changed();
}

int FileList::scan_done() const { return scan_ ? scan_->done() : 0; }
int FileList::scan_total() const { return scan_ ? scan_->total() : 0; }

// ------------------------------------------------------------ folder watch

void FileList::watch_folder() {
  const QString path = folder_path();
  if (!watcher_.directories().isEmpty() && watcher_.directories() != QStringList{path})
    watcher_.removePaths(watcher_.directories());
  if (folder_known() && watcher_.directories().isEmpty()) watcher_.addPath(path);
}

QHash<QString, FileFingerprint> FileList::content_prints() const {
  QHash<QString, FileFingerprint> prints;
  if (!folder_known()) return prints;
  // Content files only: the published files and the copies' temporary
  // files never ask for a rescan.
  for (const QString& name : list_folder(folder_path()))
    if (content_kind_of(name) != ContentKind::none)
      if (auto print = fingerprint_of(folder_path() + "/" + name)) prints.insert(name, *print);
  return prints;
}

void FileList::folder_changed_outside() {
  if (!folder_known()) return;
  if (!folder_reachable()) {
    scan_folder();  // says so, and waits for it to come back
    return;
  }
  // A file still being written changes between two looks: wait until two
  // looks a second apart agree, then scan only when the content differs.
  const auto prints = content_prints();
  if (prints != settle_prints_) {
    settle_prints_ = prints;
    watch_settle_.start();
    return;
  }
  if (prints == watched_prints_ || scan_) return;
  console_log("CONTENT FOLDER CHANGED");
  scan_folder();
}

void FileList::save() {
  if (!folder_known()) {
    console_log(kSaveErrorTag);
    console_log("no content folder chosen");
    return;
  }
  save_file_logged(documents_folder() + "/" + kFolderFile, folder_url_.toEncoded(), "SAVE FILELIST!!!!!");
}

bool FileList::read_saved_folder() {
  const auto bytes = read_file(documents_folder() + "/" + kFolderFile);
  if (!bytes || bytes->isEmpty()) return false;
  const QUrl url = QUrl::fromEncoded(bytes->trimmed());
  // Anything but a short file URL would leave an empty folder path, and
  // new files would be written into "/".
  if (bytes->size() > kFolderFileLimit || !url.isValid() || !url.isLocalFile() || url.toLocalFile().isEmpty()) {
    console_log(QString("LOAD FILELIST: %1 holds no folder URL, ignored").arg(kFolderFile));
    return false;
  }
  folder_url_ = url;
  return true;
}

void FileList::applicationDidFinishLaunching() {
  hide_progress();
  set_label(kNoFolder);
  if (!read_saved_folder()) return;
  set_label(folder_label_for(folder_url_));
  console_log("LOAD FILELIST!!!!!");
  scan_soon();
  // A missing root is not served; the watch starts the server once it appears.
  if (folder_reachable()) bus_.post(note::SET_SERVER_PATH, folder_path());
}

void FileList::send_url() { bus_.post(note::FOLDER_URL, folder_known() ? QVariant(folder_url_) : QVariant()); }

}  // namespace tavri
