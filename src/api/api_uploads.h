#pragma once
#include <atomic>
#include <QObject>
#include <functional>
#include <string>

#include "api/api_server.h"

namespace tavri {

class FileList;

// Uploads into the content folder. The content library decides, on the
// main thread, where one goes and whether it may; its bytes are written on
// the listener's thread beside the final name, which they take only when
// complete, as the window's copies do.
class ApiUploads : public QObject {
 public:
  // An event for the streams; callable from any thread.
  using Publish = std::function<void(const std::string& event, const std::string& json)>;
  ApiUploads(FileList& files, Publish publish, QObject* parent = nullptr);

  // The exit status that asks the service manager for a restart.
  static constexpr int kRestartForRestore = 75;

  // On the listener's thread: PUT /api/content/NAME[?replace=true],
  // PUT /api/restore or PUT /api/import.
  void begin(api::Request head, std::uint64_t length, api::Ready ready);
  // What a checked restore does next (tests keep the process).
  void set_restart(std::function<void()> restart) { restart_ = std::move(restart); }
  // What takes an export once it arrived whole; on the main thread.
  using Import = std::function<void(QByteArray archive, api::Respond respond)>;
  void set_import(Import import) { import_ = std::move(import); }

 private:
  // `scan`: the file is content, which the list then shows.
  api::Upload upload(const QString& name, const QString& destination, std::uint64_t length, bool scan,
                     bool replace = true);
  api::Upload restore(std::uint64_t length);
  api::Upload import(std::uint64_t length);

  FileList& files_;
  Publish publish_;
  std::function<void()> restart_;
  Import import_;
  std::atomic<int> restore_uploads_{0};
};

}  // namespace tavri
