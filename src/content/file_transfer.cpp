#include "file_transfer.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSaveFile>
#include <QUrl>
#include <future>

#include "core/main_queue.h"

namespace tavri {

FileTransfer::FileTransfer(QString source, TransferReceiver* receiver, QObject* context, TransferOptions options,
                           Finished on_finished)
    : source_(std::move(source)),
      receiver_(receiver),
      context_(context),
      options_(options),
      on_finished_(std::move(on_finished)) {}

FileTransfer::~FileTransfer() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void FileTransfer::start() { thread_ = std::thread([this] { run(); }); }

template <typename Fn>
void FileTransfer::report(Fn&& fn) {
  if (cancelled_) return;
  post_to(context_, [context = context_, receiver = receiver_, fn = std::forward<Fn>(fn)]() mutable {
    if (context) fn(*receiver);
  });
}

void FileTransfer::run() {
  const QString url = QUrl::fromLocalFile(source_).toString();
  auto fail = [&](const QString& description) {
    finished_ = true;
    report([description, url](TransferReceiver& r) { r.download_did_fail(description, url); });
  };

  QFile in(source_);
  if (!in.open(QIODevice::ReadOnly)) return fail(in.errorString());

  // The destination is decided on the receiver's thread; a cancel while
  // waiting for it ends the wait.
  auto decided = std::make_shared<std::promise<QString>>();
  auto destination_future = decided->get_future();
  const QString suggested = QFileInfo(source_).fileName();
  post_to(context_, [context = context_, receiver = receiver_, suggested, decided] {
    QString destination;
    if (context) receiver->download_decide_destination(suggested, &destination);
    decided->set_value(destination);
  });
  decided.reset();
  QString destination;
  try {
    while (destination_future.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
      if (cancelled_) {
        finished_ = true;
        return;
      }
    destination = destination_future.get();
  } catch (const std::future_error&) {
    finished_ = true;
    return;
  }
  if (destination.isEmpty()) return fail("no destination for the file");

  // QSaveFile writes beside the destination and renames over it on commit;
  // an abandoned copy is removed. Unbuffered, so a full disk fails a write
  // instead of the commit renaming a short file.
  QSaveFile out(destination);
  out.setDirectWriteFallback(false);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(out.errorString());
  report([](TransferReceiver& r) { r.download_did_receive_response(); });

  std::vector<char> block(std::max<std::size_t>(1, options_.block_size));
  std::uint64_t copied = 0;
  while (true) {
    if (cancelled_) {
      out.cancelWriting();
      finished_ = true;
      return;
    }
    qint64 n = in.read(block.data(), static_cast<qint64>(block.size()));
    if (n < 0 || copied >= options_.fail_after) {
      out.cancelWriting();
      return fail(n < 0 ? in.errorString() : QString("The file could not be read."));
    }
    if (n == 0) break;
    if (out.write(block.data(), n) != n) {
      const QString error = out.errorString();
      out.cancelWriting();
      return fail(error);
    }
    copied += static_cast<std::uint64_t>(n);
    report([n](TransferReceiver& r) { r.download_did_receive_data(static_cast<std::uint64_t>(n)); });
  }
  if (!out.commit()) return fail(out.errorString());
  finished_ = true;
  report([destination, done = on_finished_](TransferReceiver& r) {
    r.download_did_finish();
    if (done) done(destination);
  });
}

}  // namespace tavri
