#pragma once
#include <cstdlib>

namespace tavri {

// Without TZ, the C library looks at /etc/localtime again for every local
// time it converts, and a registry of thousands of players converts
// thousands a second: that look was half the main thread's work under a
// feedback flood. With TZ naming the same file it is read once; a change
// of the system's time zone is seen at the next start. A TZ already set is
// kept.
inline void read_time_zone_once() { ::setenv("TZ", ":/etc/localtime", 0); }

}  // namespace tavri
