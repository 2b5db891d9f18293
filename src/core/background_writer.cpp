#include "background_writer.h"

#include <QMetaObject>
#include <QPointer>

#include "folders.h"
#include "main_queue.h"

namespace tavri {

BackgroundWriter& BackgroundWriter::instance() {
  static BackgroundWriter writer;
  return writer;
}

BackgroundWriter::~BackgroundWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWriter::submit(const QString& path, Write write) {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    if (!queued_.contains(path)) order_.push_back(path);
    queued_.insert(path, std::move(write));
  }
  wake_.notify_one();
}

void BackgroundWriter::submit_bytes(const QString& path, std::function<QByteArray()> encode, const QString& save_tag) {
  submit(path, [path, encode = std::move(encode), save_tag] { save_file_logged(path, encode(), save_tag); });
}

void BackgroundWriter::after_pending(QObject* context, std::function<void()> fn) {
  QPointer<QObject> receiver(context);
  QString key;
  {
    std::lock_guard lock(mutex_);
    key = QString("\x01" "after-pending-%1").arg(++barriers_);  // never a file's path
  }
  submit(key, [receiver, fn = std::move(fn)] {
    post_to(receiver, [receiver, fn] {
      if (receiver) fn();
    });
  });
}

void BackgroundWriter::cancel(const QString& path) {
  std::unique_lock lock(mutex_);
  if (queued_.remove(path)) std::erase(order_, path);
  idle_.wait(lock, [&] { return running_ != path; });
}

bool BackgroundWriter::wait_idle(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return order_.empty() && running_.isEmpty(); });
}

void BackgroundWriter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !order_.empty(); });
    // Pending writes are finished even when stopping: nothing is lost.
    if (order_.empty()) return;
    running_ = order_.front();
    order_.pop_front();
    Write write = queued_.take(running_);
    lock.unlock();
    if (const int delay = delay_ms_) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    write();
    lock.lock();
    running_.clear();
    idle_.notify_all();
  }
}

std::size_t BackgroundWriter::queued() {
  std::lock_guard lock(mutex_);
  return order_.size();
}

}  // namespace tavri
