// The probe helper: reads requests on its standard input (a socket from the
// application), answers each on standard output, and leaves after a while
// without requests.
#include <poll.h>

#include "media_decoder.h"
#include "media_wire.h"

int main() {
  using namespace tavri;
  constexpr int kIdleMs = 30000;
  for (;;) {
    pollfd p{0, POLLIN, 0};
    const int ready = ::poll(&p, 1, kIdleMs);
    if (ready == 0) return 0;
    if (ready < 0) continue;
    QByteArray payload;
    if (!read_frame(0, payload)) return 0;
    const auto request = decode_request(payload);
    if (!request) return 1;
    ProbeReply reply;
    if (request->want_info)
      reply.info = decode_media(request->path, request->want_thumbnail ? &reply.thumbnail : nullptr, request->side);
    else if (request->want_thumbnail)
      reply.thumbnail = decode_thumbnail(request->path, request->side);
    if (!write_frame(1, encode(reply))) return 0;
  }
}
