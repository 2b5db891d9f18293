#pragma once
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <vector>

#include "content/file_transfer.h"
#include "content/folder_scan.h"
#include "core/worker.h"
#include "core/bus.h"
#include "core/dialogs.h"
#include "core/outcome.h"
#include "core/movielist.h"
#include "core/record_list.h"

namespace tavri {

// The content library: the content folder, its content items, the copying
// of files into it, and the links from playlists to its files.
class FileList : public QObject, public TransferReceiver {
  Q_OBJECT
 public:
  FileList(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);
  ~FileList() override;

  RecordList& ArrayController_FILELIST() { return files_; }
  // The playlist catalogue's list, shared with the playlist controllers.
  void set_playlists(RecordList* playlists) { playlists_ = playlists; }
  QUrl folder_url() const { return folder_url_; }
  // The item of the file named `file_name` ("lobby.mp4"), or -1: players
  // and playlists name content by its file.
  int index_of_file(const QString& file_name) const;
  QString select_label_path() const { return label_; }

  // Folder and scan.
  void press_select();
  // The content folder, by its absolute path; scanned at once.
  Outcome choose_folder(QString path);
  QString folder_path() const;
  void rescan_Folder() { scan_folder(); }
  // Scans on worker threads; the list is replaced when the scan completes.
  void scan_folder();
  void cancel_scan();
  bool scanning() const { return scan_ != nullptr; }
  int scan_done() const;
  // How long the last complete scan took, in ms (-1: none yet).
  qint64 last_scan_ms() const { return last_scan_ms_; }
  int scan_total() const;
  void save();
  void applicationDidFinishLaunching();  // the LOAD handler
  void send_url();
  // Worker threads for building items (0: one per core).
  void set_scan_threads(int threads) { scan_threads_ = threads; }

  // Item builders with their platform names.
  static std::optional<Record> FILE_LIST_ITEM_BY_FILE_URL(const QUrl& url);
  static std::optional<Record> FILE_LIST_IMG_ITEM_BY_FILE_URL(const QUrl& url);
  static std::optional<Record> FILE_LIST_STREAM_ITEM_BY_FILE_URL(const QUrl& url);

  // Editing.
  void add_File();
  // Copies files into the content folder as "add file" does (dropped on the
  // content table, for example); anything but plain files is left out.
  void add_files(const QStringList& paths);
  void add_stream();
  // A stream file `name`.stream holding `address`.
  Outcome add_stream(const QString& name, const QString& address);
  // Deletes content files by their names; with `unlink` their items leave
  // every playlist first. Nothing is deleted when a name is unknown.
  Outcome delete_files(const QStringList& names, bool unlink);
  // Where an upload of `size` bytes named `name` goes in the content
  // folder: refused for a name the library does not take, an existing file
  // unless `replace`, or a disk without room for it.
  Outcome check_upload(const QString& name, quint64 size, bool replace, QString* destination) const;
  // A file came under its final name: the list follows shortly.
  void scan_soon();
  void replace_file();
  void delete_File();
  void get_links();
  bool find_file_in_playlists(const QUrl& url) const;
  QStringList getlinksforfile(const QUrl& url) const;
  void unlink_file_at_url(const QUrl& url);
  // False (the playlists untouched, the old file kept) when the new file cannot be read.
  bool replace_file_at_url(const QUrl& old_url, const QUrl& new_url);
  bool replace_file_with(const QUrl& old_url, const QUrl& new_url, const std::optional<Record>& fresh);
  // The item a replacement file makes (a movie is probed): any thread.
  static std::optional<Record> replacement_item(const QUrl& url);
  void delete_file_at_url(const QUrl& url);
  void relink_files();

  // Transfer into the folder.
  // on_finished runs once the copy is complete under its final name.
  void start_transfer(const QString& source_path, FileTransfer::Finished on_finished = {});
  int active_transfers() const { return running_transfers_; }
  void set_transfer_options(TransferOptions options) { transfer_options_ = options; }
  bool progress_visible() const { return progress_visible_; }
  double progress_value() const { return progress_value_; }
  bool new_button_enabled() const { return new_button_enabled_; }
  bool replace_button_enabled() const { return replace_button_enabled_; }

  void download_decide_destination(const QString& suggested_filename, QString* destination) override;
  void download_did_receive_response() override;
  void download_did_receive_data(std::uint64_t length) override;
  void download_did_finish() override;
  void download_did_fail(const QString& description, const QString& url) override;

 signals:
  void label_changed(const QString& text);
  void scan_progress_changed();
  void progress_changed();
  void buttons_changed();

 private:
  void set_label(const QString& text);
  // The folder the saved state names, taken when it is a usable one.
  bool read_saved_folder();
  void finish_replacement(const QUrl& old_url, const QUrl& new_url);
  void scan_finished(RecordArray items, KnownItems built);
  void watch_folder();
  void folder_changed_outside();
  QHash<QString, FileFingerprint> content_prints() const;
  void folder_chosen(const QUrl& url);
  void hide_progress();
  // Bar hidden and add-file button enabled once no copy runs; false while one does.
  bool transfer_ended();
  bool folder_known() const { return folder_url_.isValid() && !folder_url_.isEmpty(); }
  bool folder_chosen_or_alert();  // says how to choose one when there is none
  bool folder_reachable() const;
  // Rewrites every playlist's items through fn (which returns the new list).
  void rewrite_playlists(const std::function<RecordArray(const RecordArray&)>& fn);
  // A playlist's items, or nothing (reported) when its blob cannot be decoded.
  std::optional<RecordArray> readable_items(const Record& playlist, bool with_images = true) const;
  void playlists_redrawn_and_changed();

  Bus& bus_;
  Dialogs& dialogs_;
  RecordList files_;
  RecordList* playlists_ = nullptr;
  QUrl folder_url_;
  QString label_;
  int scan_threads_ = 0;
  // Polls an unreachable folder until it can be read again.
  QTimer folder_watch_;
  bool unreachable_reported_ = false;

  std::unique_ptr<FolderScanJob> scan_;
  QTimer scan_progress_timer_;
  quint64 scan_serial_ = 0;  // which scan's result is wanted
  QElapsedTimer scan_clock_;
  qint64 last_scan_ms_ = -1;
  Worker probes_{this};      // replacement files, probed off the main thread
  KnownItems known_items_;  // what the last scan built, so unchanged files are not probed again
  // Changes made by other programs (file manager, rsync, scp).
  QFileSystemWatcher watcher_;
  QTimer watch_settle_;
  QHash<QString, FileFingerprint> settle_prints_, watched_prints_;

  // What the last relink left, by the blob it left (held, so its address
  // stays unique), against which content.
  struct Relinked {
    QByteArray blob;
    QStringList missing_names;
    QList<QUrl> missing_urls;
  };
  QHash<const char*, Relinked> relinked_;
  QSet<QString> ignored_missing_;  // names the operator chose to ignore in this folder
  size_t relinked_signature_ = 0;

  // Transfer state: one set for all transfers, as the progress bar shows one.
  TransferOptions transfer_options_;
  bool progress_visible_ = false;
  double progress_value_ = 0;
  float old_prozent_ = 0;
  std::uint64_t received_bytes_ = 0;
  std::uint64_t expected_size_ = 0;
  bool new_button_enabled_ = true;
  bool replace_button_enabled_ = true;
  std::vector<std::unique_ptr<FileTransfer>> transfers_;
  int running_transfers_ = 0;
  // Declared last so it goes first: dropping its queued reports lets the
  // transfers' threads end before they are joined.
  std::unique_ptr<QObject> transfer_context_;
};

// "%20" becomes a space; the last path component of the URL text.
QString folder_label_for(const QUrl& folder);

}  // namespace tavri
