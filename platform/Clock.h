#pragma once
#include <cstdint>

#include "platform/DirectoryListing.h"

namespace platform {

// The system time, in the units of file times, to compare with them.
FileTime CurrentFileTime();

// A clock that never jumps, in milliseconds, for time-outs.
uint64_t MonotonicMilliseconds();

} // namespace platform
