#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "core/keyed_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  (void)tavri::decode_archive(bytes);
  return 0;
}
