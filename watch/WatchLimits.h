#pragma once
#include <cstddef>

// The sizes that bound a watcher's memory. They are defined apart from the
// rest of the logic so that a test build can make them small enough to be
// exceeded on purpose; the product uses the values in WatchLimits.cpp.
struct WatchLimits {
    // The change request's buffer. The system's own buffer for the handle
    // takes the same size.
    std::size_t notifyBufferBytes;
    // Names taken in but not yet offered.
    std::size_t pendingBytes;
    // Names taken in while lost time waits to be recovered, remembered so
    // that the recovery does not hand them back again.
    std::size_t takenBytes;
    // Files waiting for a scanner that failed.
    std::size_t waitingBytes;
};

extern const WatchLimits kWatchLimits;
