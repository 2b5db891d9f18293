#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
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
// final name only when complete; on failure the temporary file is removed.
class FileTransfer {
 public:
  // context: a QObject living on the receiver's thread; reports are queued
  // to it and dropped once it is gone.
  FileTransfer(QString source, TransferReceiver* receiver, QObject* context, TransferOptions options = {});
  ~FileTransfer();
  void start();
  bool finished() const { return finished_; }

 private:
  void run();
  template <typename Fn>
  void report(Fn&& fn);

  QString source_;
  TransferReceiver* receiver_;
  QObject* context_;
  TransferOptions options_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

}  // namespace tavri
