#include "media_probe.h"

#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/console.h"
#include "media_wire.h"

extern char** environ;

namespace tavri {
namespace {

// Movie files come from anywhere, and the decoder with its codec libraries
// is large: it runs in a helper process, one per probing thread, so a file
// that crashes or hangs it costs that file's metadata and nothing else, and
// the server does not carry the decoder's libraries while it serves.
// The helper's own deadline per opening is 15 s: past this it hangs, and is killed.
constexpr int kReplyTimeoutMs = 20000;

thread_local bool last_probe_failed = false;

std::string exe_dir() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, size_t(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string find_helper() {
  if (const char* env = std::getenv("TAVRI_MEDIA_PROBE"); env && *env) return env;
  const std::string dir = exe_dir();
  // Installed, beside the program, or (benchmarks) in the build tree's src/.
  for (const std::string& candidate : {dir + "/../libexec/tavri_av_server/tavri_media_probe",
                                       dir + "/tavri_media_probe", dir + "/../src/tavri_media_probe"})
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  return {};
}

std::mutex helper_mutex;
std::string helper_override;

std::string helper_path() {
  static const std::string found = [] {
    std::string p = find_helper();
    if (p.empty()) console_log("media probe helper \"tavri_media_probe\" not found: movies get no metadata");
    return p;
  }();
  std::lock_guard lock(helper_mutex);
  return helper_override.empty() ? found : helper_override;
}

class ProbeHelper {
 public:
  ~ProbeHelper() { stop(); }

  std::optional<ProbeReply> ask(const ProbeRequest& request) {
    const QByteArray payload = encode(request);
    const std::string path = helper_path();
    if (path != running_path_) stop();
    // A helper that left while idle, or died on the file, gets one fresh start.
    // A hung one is not asked again: the same file would hang it again.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (fd_ < 0 && !start(path)) return std::nullopt;
      QByteArray reply;
      QElapsedTimer waited;
      waited.start();
      if (write_frame(fd_, payload) && read_frame(fd_, reply, kReplyTimeoutMs)) {
        if (auto r = decode_reply(reply)) return r;
      }
      stop();
      if (waited.elapsed() >= kReplyTimeoutMs) {
        console_log("media probe timed out: " + request.path);
        return std::nullopt;
      }
    }
    console_log("media probe failed: " + request.path);
    return std::nullopt;
  }

 private:
  bool start(const std::string& path) {
    if (path.empty()) return false;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      return false;
    }
    fd_ = fds[0];
    pid_ = pid;
    running_path_ = path;
    return true;
  }

  void stop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (pid_ > 0) {
      // Closing the socket ends a healthy helper; one stuck in a file does not notice.
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
    running_path_.clear();
  }

  std::string running_path_;
  int fd_ = -1;
  pid_t pid_ = -1;
};

ProbeReply ask_helper(const ProbeRequest& request) {
  thread_local ProbeHelper helper;
  auto reply = helper.ask(request);
  last_probe_failed = !reply;
  return reply ? std::move(*reply) : ProbeReply{};
}

}  // namespace

bool last_media_probe_failed() { return last_probe_failed; }

void set_media_probe_helper(const QString& path) {
  std::lock_guard lock(helper_mutex);
  helper_override = QFile::encodeName(path).toStdString();
}

MediaInfo probe_media(const QString& path, QByteArray* thumbnail, int side) {
  ProbeReply reply = ask_helper({path, true, thumbnail != nullptr, side});
  if (thumbnail) *thumbnail = std::move(reply.thumbnail);
  return reply.info;
}

QByteArray media_thumbnail(const QString& path, int side) {
  return ask_helper({path, false, true, side}).thumbnail;
}

}  // namespace tavri
