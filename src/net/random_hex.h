#pragma once
#include <sodium.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tavri::net {

// `bytes` random bytes as lowercase hex: session ids, tokens, secrets.
// The caller's library links libsodium and has called sodium_init().
inline std::string random_hex(std::size_t bytes) {
  std::vector<unsigned char> bits(bytes);
  randombytes_buf(bits.data(), bits.size());
  std::string out(bytes * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bits.data(), bits.size());
  out.pop_back();
  return out;
}

}  // namespace tavri::net
