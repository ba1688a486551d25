#pragma once
#include <cstddef>
#include <cstdint>

// The sizes that bound a watcher's memory, and the times that bound how long
// it watches a new file. They are defined apart from the rest of the logic
// so that a test build can make them small enough to be exceeded on
// purpose, or short enough to be waited for; the product uses the values in
// WatchLimits.cpp.
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
    // Files the scanner failed for while it scanned others, each tried
    // again on its own.
    std::size_t retryBytes;
    // New files until they are quiet, and while they are young.
    std::size_t arrivedBytes;
    // When a new file whose writer never stops is scanned all the same.
    uint64_t firstScanLimitMs;
    // The longest spacing of the scans of a file that keeps changing, and
    // how long it must go unchanged after a scan for its spacing to start
    // over (see RescanSpacing).
    uint64_t longestRescanSpacingMs;
    // How long a scanner call may run before it is ended as failed: this
    // much, and callPerFileMs more for each file it was given.
    uint64_t callBaseMs;
    uint64_t callPerFileMs;
};

extern const WatchLimits kWatchLimits;
