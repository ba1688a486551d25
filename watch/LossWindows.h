#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"

// A span of time whose change records the system lost: every entry of the
// tree created, written or changed in it may be new.
struct LossWindow {
    platform::FileTime start;
    platform::FileTime end;
    std::u16string after; // names up to this one were handed back
    bool begun = false;   // a pass has listed for it: it no longer grows
};

// The windows still to be made good by listing the tree, oldest first.
class LossWindows {
public:
    // Records of changes from `start` up to `end` may be missing. A window
    // that adjoins one not yet begun is merged into it, and no time is
    // covered twice.
    void Schedule(platform::FileTime start, platform::FileTime end);

    bool Pending() const { return !m_windows.empty(); }
    // The start of the oldest window; the largest time when there is none.
    platform::FileTime EarliestStart() const;

    // The oldest window, fixed from now on: a pass lists the tree for it.
    const LossWindow& BeginOldest();

    // After a pass over the oldest window found `found` (in path order; `more`
    // when its budget cut the list short) and the first `taken` of them were
    // dealt with: the window is done, or the next pass goes on after them.
    void Advance(const std::vector<std::u16string>& found, bool more, std::size_t taken);

private:
    std::deque<LossWindow> m_windows;
    platform::FileTime m_coveredUntil = 0;
};
