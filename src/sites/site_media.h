#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "api/api_server.h"
#include "sites/media_fetch.h"

namespace tavri {

class ApiUploads;
class FileList;

namespace sites {

// The media a hub's request names, fetched one after another on a thread of
// its own into the content folder through the upload path (written beside
// their names, which they take only once whole and checked), and waited for
// until the content list shows them.
class SiteMedia : public QObject {
  Q_OBJECT
 public:
  SiteMedia(FileList& files, ApiUploads& uploads, FetchOptions options, QObject* parent = nullptr);
  ~SiteMedia() override;

  // On the main thread; `done` is called there, with the first failure
  // ("NAME: why") or empty once every medium is in the content list.
  using Done = std::function<void(const QString& failure)>;
  void fetch(std::vector<Media> media, api::Caller caller, Done done);

 private:
  struct Job {
    std::vector<Media> media;
    api::Caller caller;
    QString folder;
    Done done;
  };
  void run();
  QString fetch_one(const Media& media, const Job& job);
  void wait_listed(std::vector<Media> media, Done done, int tries);

  FileList& files_;
  ApiUploads& uploads_;
  FetchOptions options_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  std::thread worker_;
};

}  // namespace sites
}  // namespace tavri
