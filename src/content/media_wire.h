#pragma once
#include <QByteArray>
#include <optional>

#include "media_probe.h"

namespace tavri {

// What passes between the application and the probe helper, one frame per
// message: a 4-byte big-endian length, then the payload.
struct ProbeRequest {
  QString path;
  bool want_info = true;
  bool want_thumbnail = false;
  int side = 0;  // of the square thumbnail
};

struct ProbeReply {
  MediaInfo info;
  QByteArray thumbnail;  // PNG, or empty when nothing could be decoded
};

QByteArray encode(const ProbeRequest& request);
QByteArray encode(const ProbeReply& reply);
std::optional<ProbeRequest> decode_request(const QByteArray& payload);
std::optional<ProbeReply> decode_reply(const QByteArray& payload);

// Blocking frame transfer on a descriptor; false on end of stream or error.
// read_frame gives up at the deadline (milliseconds, -1: none).
bool write_frame(int fd, const QByteArray& payload);
bool read_frame(int fd, QByteArray& payload, int timeout_ms = -1);

// Frames above this are refused: nothing the helper sends comes near it.
constexpr qint32 kMaxProbeFrame = 64 * 1024 * 1024;

}  // namespace tavri
