#include "api/api_uploads.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTimer>
#include <QUrlQuery>
#include <QPointer>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "content/file_list.h"
#include "core/console.h"
#include "fs/file_beneath.h"
#include "core/folders.h"
#include "core/state_archive.h"
#include "core/main_queue.h"

namespace tavri {

ApiUploads::ApiUploads(FileList& files, Publish publish, QObject* parent)
    : QObject(parent),
      files_(files),
      publish_(std::move(publish)),
      restart_([] { QTimer::singleShot(500, [] { QCoreApplication::exit(kRestartForRestore); }); }) {}

void ApiUploads::begin(api::Request head, std::uint64_t length, api::Ready ready) {
  post_to(this, [this, head = std::move(head), length, ready = std::move(ready)] {
    const QStringList parts = routes::path_parts(head.path);
    if (parts == QStringList{"restore"}) {
      // Read whole at the check and at the start that applies it.
      if (length > (std::uint64_t(1) << 30)) return ready(std::nullopt, ApiRoutes::error(413, "a backup is at most 1 GiB"));
      return ready(restore(length), {});
    }
    if (parts == QStringList{"import"}) {
      if (length > (std::uint64_t(256) << 20)) return ready(std::nullopt, ApiRoutes::error(413, "an export is at most 256 MiB"));
      return ready(import(length), {});
    }
    if (parts.size() != 2 || parts[0] != "content")
      return ready(std::nullopt, ApiRoutes::error(404, "upload to /api/content/FILE"));
    const QUrlQuery query(routes::text(head.query));
    const QString replace = query.queryItemValue("replace");
    if (!replace.isEmpty() && replace != "true" && replace != "false")
      return ready(std::nullopt, ApiRoutes::error(400, "\"replace\" is true or false", "replace"));
    QString destination;
    const Outcome o = files_.check_upload(parts[1], length, replace == "true", &destination);
    if (!o.ok()) return ready(std::nullopt, ApiRoutes::refusal(o));
    console_log(QString("UPLOAD: %1 (%2 bytes)").arg(destination).arg(length));
    ready(upload(parts[1], destination, length, true, replace == "true"), {});
  });
}

// A backup to load: kept whole beside the saved state, checked, and
// applied at the next start, before anything is loaded; the service
// restarts for it (exit status 75: systemd starts it again).
//
// Each upload has a file of its own; only one that checks out takes the
// staged place, so a refused restore never touches an accepted one, and
// of two accepted the later wins. The check reads the whole archive, so it
// runs on a thread of its own, not the listener's.
api::Upload ApiUploads::restore(std::uint64_t length) {
  const QString candidate =
      QString("%1.%2.upload").arg(state_archive::staged_path()).arg(++restore_uploads_);
  api::Upload upload = this->upload("restore", candidate, length, false);
  upload.finish = [this, candidate, stored = std::move(upload.finish)](bool complete, api::Respond respond) {
    stored(complete, [this, candidate, respond = std::move(respond)](api::Response response) {
      if (response.status != 201) {
        QFile::remove(candidate);
        return respond(std::move(response));
      }
      QPointer<ApiUploads> self(this);
      std::thread([self, candidate, respond] {
        const auto bytes = read_file(candidate);
        QString why = "it cannot be read";
        auto entries = bytes ? state_archive::read(*bytes, &why) : std::nullopt;
        if (entries && !state_archive::rebuild_history(*entries, &why)) entries.reset();
        if (!entries) {
          QFile::remove(candidate);
          return respond(ApiRoutes::error(why.startsWith("too large") ? 413 : 400, "This is not a backup: " + why,
                                          "archive"));
        }
        // One rename, over whatever was staged before.
        if (::rename(QFile::encodeName(candidate).constData(), QFile::encodeName(state_archive::staged_path()).constData()) != 0) {
          const QString failure = std::strerror(errno);
          QFile::remove(candidate);
          return respond(ApiRoutes::error(500, "The backup could not be staged: " + failure));
        }
        QJsonArray names;
        for (const auto& e : *entries) names.append(e.name);
        console_log(QString("RESTORE: %1 files checked; restarting to load them").arg(names.size()));
        respond(ApiRoutes::json(202, QJsonObject{{"restored", names}, {"restart", true}}));
        post_to(QCoreApplication::instance(), [self] {
          if (self) self->restart_();
        });
      }).detach();
    });
  };
  return upload;
}

// An export, kept whole beside the saved state until it is read.
api::Upload ApiUploads::import(std::uint64_t length) {
  const QString staged = application_folder() + "/tavri_AV_SERVER_IMPORT.upload";
  api::Upload upload = this->upload("import", staged, length, false);
  upload.finish = [this, staged, stored = std::move(upload.finish)](bool complete, api::Respond respond) {
    stored(complete, [this, staged, respond = std::move(respond)](api::Response response) {
      if (response.status != 201) return respond(std::move(response));
      post_to(this, [this, staged, respond] {
        const auto bytes = read_file(staged);
        QFile::remove(staged);
        if (!bytes || !import_) return respond(ApiRoutes::error(500, "The export could not be read back."));
        import_(*bytes, respond);
      });
    });
  };
  return upload;
}

api::Upload ApiUploads::upload(const QString& name, const QString& destination, std::uint64_t length, bool scan,
                               bool replace) {
  // Lives on the listener's thread from its first block to its end.
  struct Job {
    QString destination;
    std::string file;  // its name, as JSON
    std::uint64_t length = 0, received = 0;
    std::unique_ptr<FileBeneath> out;
    QString failure;
    bool replace = true;
    std::chrono::steady_clock::time_point reported;
    Publish publish;

    // Written beneath its folder only: a link in the name's place is
    // refused, never followed.
    bool open() {
      out = std::make_unique<FileBeneath>();
      const QFileInfo info(destination);
      const auto why = out->open(QFile::encodeName(info.absolutePath()).toStdString(),
                                 QFile::encodeName(info.fileName()).toStdString(), replace);
      if (!why) return true;
      failure = QString::fromStdString(*why);
      return false;
    }
    void progress(const char* state) {
      publish("upload", "{\"file\":" + file + ",\"state\":\"" + state + "\",\"received\":" + std::to_string(received) +
                            ",\"total\":" + std::to_string(length) + "}");
    }
  };
  auto job = std::make_shared<Job>();
  job->destination = destination;
  job->replace = replace;
  job->file = api::json_string(name.toStdString());
  job->length = length;
  job->publish = publish_;
  job->progress("started");

  api::Upload upload;
  upload.write = [job](const char* data, std::size_t size) {
    if (!job->out && !job->open()) return false;
    if (!job->out->write(data, size)) {
      job->failure = QString::fromStdString(job->out->error());
      return false;
    }
    job->received += size;
    // A few events a second, however fast the bytes come.
    const auto now = std::chrono::steady_clock::now();
    if (now - job->reported >= std::chrono::milliseconds(250)) {
      job->reported = now;
      job->progress("receiving");
    }
    return true;
  };
  // The listener stops before this object goes: `this` outlives each upload.
  upload.finish = [this, job, scan](bool complete, api::Respond respond) {
    if (complete && job->failure.isEmpty() && (job->out || job->open()))
      if (const auto why = job->out->commit()) job->failure = QString::fromStdString(*why);
    if (!complete || !job->failure.isEmpty()) {
      if (job->out) job->out->cancel();  // the folder keeps what it had
      job->out.reset();
      job->progress("failed");
      if (!job->failure.isEmpty())
        return respond(ApiRoutes::error(500, QString("The upload was not stored: %1").arg(job->failure)));
      return respond(ApiRoutes::error(400, "The upload ended before its last byte."));
    }
    job->out.reset();
    job->progress("stored");
    if (scan)
      post_to(this, [this, destination = job->destination] {
        console_log(QString("UPLOAD STORED: %1").arg(destination));
        files_.scan_soon();
      });
    respond({201, "application/json",
             "{\"file\":" + job->file + ",\"size\":" + std::to_string(job->received) + "}"});
  };
  return upload;
}

}  // namespace tavri
