#pragma once
#include <cstddef>
#include <cstdint>
#include <map>

#include "watch/scan/WaitingFiles.h"

// Files the scanner failed for while it scanned other files: one that a
// program holds open sharing nothing (a virtual disk being made, a mail
// store, a dropper on purpose), which clamd cannot open. Such a file must
// not hold up the others, nor be given up: each is tried again alone, on a
// back-off of its own that doubles from 1 s to 10 minutes, while it exists.
// One that never becomes readable so costs about 6 tries an hour once it
// has failed for a while. Bounded in bytes like the waiting files.
class FileRetries {
public:
    static constexpr uint64_t kFirstIntervalMs = 1000;
    static constexpr uint64_t kLongestIntervalMs = 10 * 60 * 1000;

    struct Retry {
        WaitingFiles::File file;
        uint64_t intervalMs = kFirstIntervalMs;
        unsigned tries = 1; // failed tries so far
    };

    explicit FileRetries(std::size_t byteLimit) : m_limit(byteLimit) {}

    bool Empty() const { return m_due.empty(); }
    std::size_t Size() const { return m_due.size(); }

    // The file failed for the first time; false when it does not fit, and
    // it is then not kept.
    bool Add(WaitingFiles::File file, uint64_t nowMs);
    // Its try failed again: it waits twice as long as before. It always
    // fits: it was here.
    void Failed(Retry retry, uint64_t nowMs);
    // The file whose try is due, taken out for it.
    bool TakeDue(uint64_t nowMs, Retry& retry);
    // How long until the next try is due; only while some wait.
    uint64_t MillisecondsToNextTry(uint64_t nowMs) const;

private:
    void Put(Retry retry, uint64_t dueMs);

    std::size_t m_limit;
    std::size_t m_bytes = 0;
    std::multimap<uint64_t, Retry> m_due; // by when the next try is due
};
