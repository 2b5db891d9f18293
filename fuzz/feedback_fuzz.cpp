#include <cstddef>
#include <cstdint>
#include <string_view>

#include "players/net/wire_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto f = tavri::wire::decode_feedback(bytes, "::ffff:127.0.0.1")) {
    // Every field we keep must still be valid text.
    if (!tavri::wire::is_valid_utf8(f->device_id) || !tavri::wire::is_valid_utf8(f->device_name)) __builtin_trap();
  }
  return 0;
}
