#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/DirectoryListing.h"

// Files that were not scanned because the scanner failed (it could not
// reach its daemon, crashed, or could not be started), oldest first. While
// the scanner keeps failing, only the oldest is tried, at intervals that
// double from 1 s to 30 s; once a try succeeds, all of them are due at
// once, in the order they arrived. Bounded in bytes like the pending queue.
class WaitingFiles {
public:
    static constexpr uint64_t kFirstIntervalMs = 1000;
    static constexpr uint64_t kLongestIntervalMs = 30000;

    struct File {
        std::u16string name; // exactly as the file system holds it
        // As PendingChange's: the file is not done with while it is held.
        platform::FileTime since = 0;
    };

    explicit WaitingFiles(std::size_t byteLimit) : m_limit(byteLimit) {}

    bool Empty() const { return m_files.empty(); }
    std::size_t Size() const { return m_files.size(); }
    // True while the scanner is known to fail.
    bool Failing() const { return m_failing; }

    // The scanner failed for `file`: it waits, at the head of the list when
    // it was the one tried. The next try comes after the current interval,
    // which doubles with every failure in a row. False when the file does
    // not fit; it is then not kept.
    bool Failed(File file, bool wasTried, uint64_t nowMs);
    // A new file while files wait: it queues behind them. False when it does
    // not fit.
    bool Queue(File file);
    // A scan succeeded: every waiting file is due now.
    void Succeeded();
    // The file tried was no fault of the scanner's (it is unreadable, or
    // the quarantine folder has just been made again): the next try, of
    // `file` when given or else of the next waiting file, is due now, and
    // the interval stays as it was.
    void TryAgainNow(uint64_t nowMs);
    void TryAgainNow(File file, uint64_t nowMs);

    // How long until the next try is due; 0 when one is due now.
    uint64_t MillisecondsToNextTry(uint64_t nowMs) const;
    // The oldest waiting file, taken out for a try, when one is due.
    bool TakeDue(uint64_t nowMs, File& file);

    // The earliest `since` of the waiting files; `none` when none waits.
    platform::FileTime OldestSince(platform::FileTime none) const;

    // When the current run of failures began.
    uint64_t FailingSinceMs() const { return m_failingSinceMs; }

    // What a file is charged against a bound.
    static std::size_t CostOf(const File& file);

private:
    bool Fits(const File& file) const;

    std::size_t m_limit;
    std::size_t m_bytes = 0;
    std::deque<File> m_files;
    bool m_failing = false;
    uint64_t m_failingSinceMs = 0;
    uint64_t m_intervalMs = 0;
    uint64_t m_nextTryMs = 0;
};
