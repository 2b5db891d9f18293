// A message on the broker's request topics, as anyone able to publish
// there could make it: opened against a fixed hub key, never trusted.
#include <cstdint>
#include <string_view>

#include "sites/signed_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tavri::sites::PublicKey hub = *tavri::sites::public_key_of("SaPw9xQ9Idh9A5CH2AQhNNdHfMX6vKTVfQ2S84+V1Vc=");
  static tavri::sites::ReplayGuard guard(24LL * 3600 * 1000, 1000);
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  (void)tavri::sites::open(message, hub, "shop-7", 1'800'000'000'000, guard);
  return 0;
}
