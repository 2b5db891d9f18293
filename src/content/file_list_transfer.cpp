// Copying chosen files into the content folder, with the progress bar.
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

#include "content/file_list.h"
#include "core/console.h"
#include "core/main_queue.h"

namespace tavri {


// Copies that run at once share one bar: it shows the bytes of all of them
// against their sizes together.
void FileList::start_transfer(const QString& source_path, FileTransfer::Finished on_finished) {
  if (running_transfers_++ == 0) {
    expected_size_ = 0;
    received_bytes_ = 0;
    old_prozent_ = 0;
    progress_value_ = 0;
  }
  new_button_enabled_ = false;
  emit buttons_changed();
  progress_visible_ = true;
  emit progress_changed();
  const auto size = static_cast<std::uint64_t>(QFileInfo(source_path).size());
  expected_size_ += size;
  console_log(QString("ESTIMATED FILESIZE = %1").arg(size));
  // Finished transfers are let go as new ones start.
  std::erase_if(transfers_, [](const auto& t) { return t->finished(); });
  transfers_.push_back(std::make_unique<FileTransfer>(source_path, this, transfer_context_.get(), transfer_options_,
                                                      std::move(on_finished)));
  transfers_.back()->start();
}

void FileList::download_decide_destination(const QString& suggested_filename, QString* destination) {
  if (folder_known()) *destination = folder_path() + "/" + suggested_filename;
}

void FileList::download_did_receive_response() {}

void FileList::download_did_receive_data(std::uint64_t length) {
  received_bytes_ += length;
  const float received_mb = static_cast<float>(received_bytes_) / 1000000.0f;
  const float expected_mb = static_cast<float>(expected_size_) / 1000000.0f;
  const float percent = expected_mb > 0 ? std::min(received_mb / expected_mb * 100.0f, 100.0f) : 100.0f;
  const QString line = QString::asprintf("DOWNLOAD: %.02f%%", static_cast<double>(percent));
  console_log(line);
  if (percent - old_prozent_ > 0.2f) {
    old_prozent_ = percent;
    console_log(line);
    progress_value_ = percent;
    emit progress_changed();
  }
}

void FileList::hide_progress() {
  progress_visible_ = false;
  emit progress_changed();
}

bool FileList::transfer_ended() {
  // The bar and the add-file button wait for the last of several copies,
  // and one rescan after it serves them all. Counted here, on the main
  // thread, as each copy's end is reported.
  if (--running_transfers_ > 0) return false;
  running_transfers_ = 0;
  hide_progress();
  new_button_enabled_ = true;
  emit buttons_changed();
  return true;
}

void FileList::download_did_finish() {
  console_log("downloadDidFinish");
  if (transfer_ended()) scan_soon();
}

void FileList::download_did_fail(const QString& description, const QString& url) {
  if (transfer_ended()) scan_folder();
  console_log(QString("Download failed! Error - %1 %2").arg(description, url));
}

}  // namespace tavri
