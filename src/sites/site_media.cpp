#include "sites/site_media.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <future>

#include "api/api_uploads.h"
#include "content/file_list.h"
#include "core/console.h"
#include "core/main_queue.h"

namespace tavri::sites {

SiteMedia::SiteMedia(FileList& files, ApiUploads& uploads, FetchOptions options, QObject* parent)
    : QObject(parent), files_(files), uploads_(uploads), options_(std::move(options)) {
  options_.cancel = &stopping_;
  worker_ = std::thread([this] { run(); });
}

SiteMedia::~SiteMedia() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

void SiteMedia::fetch(std::vector<Media> media, api::Caller caller, Done done) {
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back({std::move(media), std::move(caller), files_.folder_path(), std::move(done)});
  }
  wake_.notify_one();
}

void SiteMedia::run() {
  while (true) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    QString failure;
    for (const Media& m : job.media)
      if (failure = fetch_one(m, job); !failure.isEmpty()) break;
    if (stopping_) return;
    post_to(this, [this, failure, media = std::move(job.media), done = std::move(job.done)]() mutable {
      if (!failure.isEmpty()) return done(failure);
      wait_listed(std::move(media), std::move(done), 0);
    });
  }
}

QString SiteMedia::fetch_one(const Media& m, const Job& job) {
  const QString name = QString::fromStdString(m.name);
  const QString path = job.folder + "/" + name;
  // Held already, byte for byte: nothing to fetch.
  if (QFileInfo info(path); info.isFile() && std::uint64_t(info.size()) == m.size &&
                            sha256_of_file(QFile::encodeName(path).toStdString()) == m.sha256) {
    console_log(QString("SITE MEDIA: %1 held already").arg(name));
    return {};
  }
  api::Request head;
  head.method = "PUT";
  head.path = "/api/content/" + QUrl::toPercentEncoding(name).toStdString();
  head.query = "replace=true";
  head.client = "broker";
  head.caller = job.caller;
  auto ready = std::make_shared<std::promise<std::pair<std::optional<api::Upload>, api::Response>>>();
  auto taken = ready->get_future();
  uploads_.begin(head, m.size, [ready](std::optional<api::Upload> upload, api::Response refusal) {
    ready->set_value({std::move(upload), std::move(refusal)});
  });
  while (taken.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready)
    if (stopping_) return name + ": stopped";
  auto [upload, refusal] = taken.get();
  if (!upload) return QString("%1: refused by the content folder: %2").arg(name, QString::fromStdString(refusal.body));
  console_log(QString("SITE MEDIA: fetching %1 (%2 bytes)").arg(name).arg(m.size));
  const std::string why = sites::fetch(m, upload->write, options_);
  api::Response stored;
  upload->finish(why.empty(), [&stored](api::Response response) { stored = std::move(response); });
  if (!why.empty()) return QString("%1: %2").arg(name, QString::fromStdString(why));
  if (stored.status != 201) return QString("%1: not stored: %2").arg(name, QString::fromStdString(stored.body));
  console_log(QString("SITE MEDIA: %1 fetched and checked").arg(name));
  return {};
}

// The operation that names them runs once the content list shows them all.
void SiteMedia::wait_listed(std::vector<Media> media, Done done, int tries) {
  QString missing;
  for (const Media& m : media)
    if (files_.index_of_file(QString::fromStdString(m.name)) < 0) missing = QString::fromStdString(m.name);
  if (missing.isEmpty() || tries >= 600) return done({});
  if (tries == 0) files_.scan_soon();
  QTimer::singleShot(200, this, [this, media = std::move(media), done = std::move(done), tries]() mutable {
    wait_listed(std::move(media), std::move(done), tries + 1);
  });
}

}  // namespace tavri::sites
