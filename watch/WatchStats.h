#pragma once
#include <atomic>
#include <cstdint>

// Counters of one watcher, for benchmarks and diagnostics; the monitor
// itself never reads them.
struct WatchStats {
    std::atomic<uint64_t> batches{0};   // completed requests whose records were taken in
    std::atomic<uint64_t> losses{0};    // records lost by the system, or refused by the queue bound
    std::atomic<uint64_t> recoveryPasses{0};
    std::atomic<uint64_t> recoveryListed{0};       // entries the passes looked at
    std::atomic<uint64_t> recovered{0};            // names the passes handed back
    std::atomic<uint64_t> recoveryMilliseconds{0}; // time spent listing
    std::atomic<uint64_t> peakPendingBytes{0};
    std::atomic<uint64_t> takenForgotten{0}; // names forgotten early to stay within their bound
    std::atomic<uint64_t> scanCalls{0}; // scanner calls started
    std::atomic<uint64_t> newFolderPasses{0};    // passes that listed a folder that arrived
    std::atomic<uint64_t> listedInNewFolders{0}; // names those passes handed over

    void Reset()
    {
        for (auto* counter : {&batches, &losses, &recoveryPasses, &recoveryListed, &recovered,
                              &recoveryMilliseconds, &peakPendingBytes, &takenForgotten, &scanCalls, &newFolderPasses,
                              &listedInNewFolders})
            counter->store(0);
    }
};
