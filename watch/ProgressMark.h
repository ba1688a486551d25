#pragma once
#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/DirectoryListing.h"

// A watcher's progress across restarts. The mark is a wall time up to which
// every file that arrived in its tree has been dealt with: scanned, or given
// up with an entry in the log. A file still set aside, queued, waiting for
// the scanner or in a running call keeps it back. It lives in a small file
// of the product folder, written whole (see platform::ReplaceWholeFile) at
// most once a second while it moves, and once more at a stop when the stop
// finds the watcher at work. At the next start the tree is listed for what
// was created or moved in from the mark, less a margin, until then.

// How the mark read at start stood.
enum class MarkState {
    Missing,    // the first start: nothing is caught up
    Unreadable, // there, but it could not be read
    Malformed,  // not a mark
    Future,     // after the start: the clock was set back since it was written
    Good,
};

// What the start does about it.
struct CatchUpPlan {
    MarkState state = MarkState::Missing;
    bool catchUp = false;
    platform::FileTime from = 0; // the listing's window starts here
};

// File times of entries can lag the mark by a tick of the file system's
// clock (2 s on FAT), and a file created just before the mark was written
// may carry a time just before it.
inline constexpr platform::FileTime kCatchUpMargin = 2ull * 1000 * 10000;
// When the mark cannot be trusted, this much before the start is caught up:
// a night's or a weekend day's stop, without scanning a machine's whole
// history.
inline constexpr platform::FileTime kUntrustedMarkSpan = 24ull * 3600 * 1000 * 10000;
// A mark this little after the start is the clock's jitter, or another
// monitor's write just now, not a clock set back.
inline constexpr platform::FileTime kFutureTolerance = kCatchUpMargin;

// The file's text: the time in decimal, a CR LF after it.
std::string MarkText(platform::FileTime mark);
// Strict: decimal digits alone (no sign, no blank), at most 20, not zero,
// within 64 bits, then nothing or one line break (CR LF or LF).
bool ParseMark(const std::string& text, platform::FileTime& mark);

// The plan for a mark read (`text`, when `state` is Good so far) at
// `startWall`. A mark that cannot be trusted is caught up for
// kUntrustedMarkSpan before the start.
CatchUpPlan PlanCatchUp(MarkState state, const std::string& text, platform::FileTime startWall);

// The mark file of one watcher, and the pacing of its writes.
class ProgressMark {
public:
    static constexpr uint64_t kWriteEveryMs = 1000;
    // Once the work is all done, the write for it comes this soon after the
    // last: a stop that follows a burst finds the mark past it, and files
    // that trickle in one at a time cost four writes a second at most.
    static constexpr uint64_t kSettledWriteMs = 250;

    // `path`: the file; empty when there is no product folder to keep it in
    // (nothing is then read or written).
    explicit ProgressMark(std::wstring path) : m_path(std::move(path)) {}

    // Reads the mark, writes one entry in "ErrorFunctionLogs.txt" for a mark
    // that cannot be trusted, and says what to catch up.
    CatchUpPlan Load(platform::FileTime startWall);

    // The watcher did work that may have moved the mark: it is to be
    // computed and written when the next write is due.
    void Worked() { m_worked = m_byWork = true; }
    // The watcher has taken in `batches` batches of records so far, the
    // last from a request issued at `issuedWall`. A mark tells only what
    // the records before it said: the files dealt with last are passed once
    // a request issued after the write for that work has completed. Until
    // then each new batch calls for another write; the one that shows it
    // calls for the last. The records of a write itself so move the mark on
    // twice at most, and never call for writes without end.
    void RecordsTaken(uint64_t batches, platform::FileTime issuedWall)
    {
        if (!m_followUp || batches == m_batchesSeen)
            return;
        m_batchesSeen = batches;
        m_worked = true;
        if (issuedWall > m_wallAtWork)
            m_followUp = false;
    }
    // `settled`: the watcher has dealt with all it took in.
    bool WriteDue(uint64_t nowMs, bool settled) const
    {
        return m_worked && nowMs >= DueAt(settled);
    }
    // How long until a due write; only while Worked.
    uint64_t MillisecondsToWrite(uint64_t nowMs, bool settled) const
    {
        return DueAt(settled) > nowMs ? DueAt(settled) - nowMs : 0;
    }
    bool Pending() const { return m_worked && !m_path.empty(); }

    // Writes `mark` unless it is what the file holds. A failure is
    // reported once, until a write succeeds again.
    void Write(platform::FileTime mark, uint64_t nowMs, platform::FileTime nowWall, uint64_t batches);

    const std::wstring& Path() const { return m_path; }

private:
    uint64_t DueAt(bool settled) const
    {
        constexpr uint64_t kSooner = kWriteEveryMs - kSettledWriteMs;
        return settled && m_byWork ? m_nextWriteMs - std::min(m_nextWriteMs, kSooner) : m_nextWriteMs;
    }

    const std::wstring m_path;
    bool m_worked = false;
    bool m_byWork = false; // m_worked by work rather than by a follow-up
    bool m_followUp = false;
    uint64_t m_batchesSeen = 0;
    platform::FileTime m_wallAtWork = 0; // of the last write for work
    bool m_known = false; // m_written is what the file holds
    platform::FileTime m_written = 0;
    uint64_t m_nextWriteMs = 0;
    bool m_failureReported = false;
};
