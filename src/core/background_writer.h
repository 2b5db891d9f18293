#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tavri {

// Encodes and writes saved-state files on one worker thread, so that large
// catalogues are saved without stalling the window. Per path, a newer job
// replaces a queued older one: the last state handed over is the one that
// ends up on disk. Writes are atomic and logged like every other save.
class BackgroundWriter {
 public:
  using Encode = std::function<QByteArray()>;
  static BackgroundWriter& instance();
  ~BackgroundWriter();

  void submit(const QString& path, Encode encode, const QString& save_tag);
  // Drops the queued job for the path and waits while one for it is being written,
  // so that a direct save that follows cannot be overtaken by an older state.
  void cancel(const QString& path);
  // Waits until every queued job is written; false when the time ran out.
  bool wait_idle(int timeout_ms);

 private:
  struct Job {
    Encode encode;
    QString tag;
  };
  void run();

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<QString> order_;
  QHash<QString, Job> queued_;
  QString running_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavri
