#pragma once
#include <cstdint>

// How far apart the scans of one file are kept while it goes on changing.
// Every scan reads the whole file, so a file scanned at each pause of its
// writer costs n scans and some n²/2 file sizes of reading.
//
// Each scan in one run of changes asks for twice the spacing of the one
// before: a quarter of a second before a file's first scan, as for any new
// file, half a second before its second, then 1 s, 2 s, ... up to
// `longestMs` (10 minutes in the product). The file must have been quiet
// for its spacing, but for at most 30 s of it: what the spacing asks beyond
// that is counted from the last scan instead. So a file written in n pauses
// costs about log2(n) scans, and its final content is scanned at most 30 s
// after its writer is done while the run is young. A file that never rests
// is scanned all the same: a minute after its first change since its last
// scan (as a new file is a minute after it arrived), then after 2, 4, 8
// minutes, and from then on every `longestMs`: a few scans an hour. Once a
// file has gone `longestMs` since its last scan with no change waiting, the
// run is over and the next change starts a new one.
class RescanSpacing {
public:
    // What any file must be quiet for before its first scan in a run.
    static constexpr uint64_t kFirstQuietMs = 250;
    // The longest quiet asked for.
    static constexpr uint64_t kLongestQuietMs = 30000;
    static constexpr uint64_t kNotDue = UINT64_MAX;

    // `firstOverdueMs`: when a file that never becomes quiet is scanned
    // after its first change in a run; `longestMs`: the longest spacing.
    RescanSpacing(uint64_t firstOverdueMs, uint64_t longestMs)
        : m_firstOverdueMs(firstOverdueMs), m_longestMs(longestMs)
    {
    }

    // A change was reported, or the file arrived.
    void Changed(uint64_t nowMs);
    // A scan of its content was handed over.
    void Scanned(uint64_t nowMs);
    // A look found what the last scan saw: the change was a read.
    void Unchanged() { m_changedSinceMs = kNotDue; }

    // How long it must be quiet before its next scan.
    uint64_t QuietMs() const;
    // No scan is handed over before this, quiet or not.
    uint64_t EarliestMs() const;
    // When a change waits and it is scanned even if not quiet; kNotDue
    // when no change waits.
    uint64_t OverdueAtMs() const;

    // Scans handed over in this run.
    unsigned Scans() const { return m_scans; }

private:
    uint64_t SpacingMs() const;

    uint64_t m_firstOverdueMs;
    uint64_t m_longestMs;
    unsigned m_scans = 0;
    uint64_t m_lastScanMs = 0;
    uint64_t m_changedSinceMs = kNotDue; // the first change since the last scan
};
