#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "watch/intake/ClockMark.h"

// File times can lag the clock a watcher reads by a tick of the file
// system's coarser clock; a loss window starts this much earlier.
inline constexpr uint64_t kClockSlackMs = 100;
inline constexpr platform::FileTime kClockSlack = kClockSlackMs * kFileTicksPerMs;

// A span of time whose change records the system lost: every entry of the
// tree created, written or changed in it may be new. Its ends are readings
// of both clocks: the wall times compare with file times, the monotonic
// ones with when names were taken in.
struct LossWindow {
    ClockMark start;
    ClockMark end;
    std::u16string after; // names up to this one were handed back
};

// One entry a pass found, with the file time that made it new.
struct RecoveredEntry {
    std::u16string path;
    platform::FileTime latest = 0;
};

// The one window of lost time still to be made good by listing the tree.
// Every loss widens it, while a pass waits for it and while one lists for
// it: one listing answers any number of losses. A pass lists for the
// window as it was when the pass began; what losses added meanwhile is
// listed for by the next pass, from a little before the end of the last.
class LossWindows {
public:
    // Records of changes between two readings of the clocks may be missing.
    // Should the wall clock have been set back (or on) between them, the
    // window spans the times either setting stamped.
    void Widen(const ClockMark& from, const ClockMark& to);

    bool Pending() const { return m_pending; }
    // The monotonic start of the window: names taken in since then are
    // remembered. The largest time when there is none.
    uint64_t StartMonotonicMs() const;

    // The span the next pass lists for: the window, or, after a pass the
    // queue's room cut short, that pass's span again from after the names
    // it handed back.
    const LossWindow& BeginPass();

    // After a pass found `found` (in path order; `more` when its budget cut
    // the list short) and the first `taken` of them were dealt with: the
    // window is done, or it moves on to what is still to be listed for.
    void EndPass(const std::vector<RecoveredEntry>& found, bool more, std::size_t taken);

    const LossWindow& Window() const { return m_window; }

private:
    bool m_pending = false;
    bool m_passBegun = false;
    LossWindow m_window{};
    LossWindow m_pass{};
};
