#pragma once
#include <QObject>
#include <QString>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace tavri {

// What a transfer reports, always on the receiver's (main) thread, in this
// order: destination, start of data, data blocks, then finish or failure.
class TransferReceiver {
 public:
  virtual ~TransferReceiver() = default;
  virtual void download_decide_destination(const QString& suggested_filename, QString* destination) = 0;
  virtual void download_did_receive_response() = 0;
  virtual void download_did_receive_data(std::uint64_t length) = 0;
  virtual void download_did_finish() = 0;
  virtual void download_did_fail(const QString& description, const QString& url) = 0;
};

struct TransferOptions {
  std::size_t block_size = 1 << 20;
  // Tests: fail with a read error once this many bytes were copied.
  std::uint64_t fail_after = UINT64_MAX;
};

// Copies one local file into a folder on a worker thread, in blocks. The
// copy is written under a temporary name in the folder and renamed over the
// final name only when complete; on failure or cancel the temporary file is
// removed.
class FileTransfer {
 public:
  // Runs on the receiver's thread after download_did_finish, with the final path.
  using Finished = std::function<void(const QString& destination)>;
  // context: a QObject living on the receiver's thread; reports are queued
  // to it and dropped once it is gone. It must outlive the worker: cancel
  // and destroy the transfer before the context.
  FileTransfer(QString source, TransferReceiver* receiver, QObject* context, TransferOptions options = {},
               Finished on_finished = {});
  ~FileTransfer();
  void start();
  // Stops the copy at the next block; nothing more is reported.
  void cancel() { cancelled_ = true; }
  bool finished() const { return finished_; }

 private:
  void run();
  template <typename Fn>
  void report(Fn&& fn);

  QString source_;
  TransferReceiver* receiver_;
  QPointer<QObject> context_;
  TransferOptions options_;
  Finished on_finished_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> cancelled_{false};
};

}  // namespace tavri
