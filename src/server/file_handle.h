#pragma once

#include <cstdint>
#include <memory>

#include "fs/open_beneath.h"

namespace tavri::net {

// An open file descriptor, closed when the last holder lets go: a response
// and the socket still sending its slice share one descriptor.
using FileHandle = fs::Descriptor;

// Bytes of an open file that the kernel copies to the socket by itself.
struct FileSlice {
  std::shared_ptr<const FileHandle> file;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

}  // namespace tavri::net
