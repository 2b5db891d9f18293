#include "media_wire.h"

#include "core/record.h"

#include <QDataStream>
#include <QFileInfo>
#include <QIODevice>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavri {

// Human-readable kinds, by the file's extension; one fixed table.
QString media_kind_for(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toUpper();
  if (ext == "MOV") return "QuickTime movie";
  if (ext == "MP4") return "MPEG-4 movie";
  if (ext == "M4V") return "Apple MPEG-4 movie";
  if (ext == "PNG") return "PNG image";
  if (ext == "JPG" || ext == "JPEG") return "JPEG image";
  return "Movie";
}

namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

// Waits until fd is ready for `events`; false at the deadline or on error.
bool wait_for(int fd, short events, std::chrono::steady_clock::time_point deadline, bool bounded) {
  for (;;) {
    int timeout = -1;
    if (bounded) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      timeout = static_cast<int>(left.count());
    }
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, timeout);
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool read_exactly(int fd, char* data, qsizetype size, std::chrono::steady_clock::time_point deadline, bool bounded) {
  while (size > 0) {
    if (!wait_for(fd, POLLIN, deadline, bounded)) return false;
    const ssize_t n = ::read(fd, data, size_t(size));
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace

QByteArray encode(const ProbeRequest& request) {
  QByteArray out;
  QDataStream s(&out, QIODevice::WriteOnly);
  s.setVersion(kStreamVersion);
  s << request.path << request.want_info << request.want_thumbnail << qint32(request.side);
  return out;
}

QByteArray encode(const ProbeReply& reply) {
  QByteArray out;
  QDataStream s(&out, QIODevice::WriteOnly);
  s.setVersion(kStreamVersion);
  const MediaInfo& i = reply.info;
  s << i.opened << i.duration_seconds.has_value() << i.duration_seconds.value_or(0) << i.kind << i.media_types
    << qint32(i.pixel_width) << qint32(i.pixel_height) << i.video_bit_rate.has_value()
    << qint64(i.video_bit_rate.value_or(0)) << i.codecs << i.has_video << i.last_video_fps;
  s << reply.thumbnail;
  return out;
}

std::optional<ProbeRequest> decode_request(const QByteArray& payload) {
  QDataStream s(payload);
  s.setVersion(kStreamVersion);
  ProbeRequest r;
  qint32 side = 0;
  s >> r.path >> r.want_info >> r.want_thumbnail >> side;
  if (s.status() != QDataStream::Ok) return std::nullopt;
  r.side = side;
  return r;
}

std::optional<ProbeReply> decode_reply(const QByteArray& payload) {
  QDataStream s(payload);
  s.setVersion(kStreamVersion);
  ProbeReply r;
  MediaInfo& i = r.info;
  bool has_duration = false, has_rate = false;
  double duration = 0;
  qint32 w = 0, h = 0;
  qint64 rate = 0;
  s >> i.opened >> has_duration >> duration >> i.kind >> i.media_types >> w >> h >> has_rate >> rate >> i.codecs >>
      i.has_video >> i.last_video_fps >> r.thumbnail;
  if (s.status() != QDataStream::Ok || !(r.thumbnail.isEmpty() || looks_like_png(r.thumbnail))) return std::nullopt;
  if (has_duration) i.duration_seconds = duration;
  if (has_rate) i.video_bit_rate = rate;
  i.pixel_width = w;
  i.pixel_height = h;
  return r;
}

bool write_frame(int fd, const QByteArray& payload) {
  const quint32 n = quint32(payload.size());
  const unsigned char head[4] = {uchar(n >> 24), uchar(n >> 16), uchar(n >> 8), uchar(n)};
  QByteArray out(reinterpret_cast<const char*>(head), 4);
  out += payload;
  const char* data = out.constData();
  qsizetype left = out.size();
  while (left > 0) {
    // A socket: no SIGPIPE when the other side has gone.
    ssize_t sent = ::send(fd, data, size_t(left), MSG_NOSIGNAL);
    if (sent < 0 && errno == ENOTSOCK) sent = ::write(fd, data, size_t(left));
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += sent;
    left -= sent;
  }
  return true;
}

bool read_frame(int fd, QByteArray& payload, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  const bool bounded = timeout_ms >= 0;
  unsigned char head[4];
  if (!read_exactly(fd, reinterpret_cast<char*>(head), 4, deadline, bounded)) return false;
  const qint64 n = (qint64(head[0]) << 24) | (head[1] << 16) | (head[2] << 8) | head[3];
  if (n > kMaxProbeFrame) return false;
  payload.resize(qsizetype(n));
  return read_exactly(fd, payload.data(), payload.size(), deadline, bounded);
}

}  // namespace tavri
