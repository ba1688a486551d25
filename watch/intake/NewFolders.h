#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "watch/intake/LossWindows.h"
#include "watch/intake/PendingChanges.h"

// A folder that arrived: created, or renamed or moved in with all that lies
// below it, which then comes with no record of its own. What lies below it
// is listed and offered file by file, as new files that arrived the way the
// folder did.
struct NewFolder {
    std::u16string path; // relative to the watched root
    Arrival arrival = Arrival::Added;
    // When it was taken in: names taken in since are remembered while it
    // waits, so that its listing does not hand them back.
    uint64_t sinceMs = 0;
    std::u16string after; // names up to this one were handed back
    // The `since` of the change that named it: what lies below it inherits
    // it (a folder moved in keeps its files' old times).
    platform::FileTime since = 0;
    bool caughtUp = false; // as PendingChange's
};

// The folders whose listing is still to come, oldest first, each listed by
// a pass of the recovery machinery over everything below it, whatever its
// times. Bounded in bytes like the pending queue.
class NewFolders {
public:
    explicit NewFolders(std::size_t byteLimit) : m_limit(byteLimit) {}

    // False when it does not fit. A folder inside one that waits and has not
    // begun its pass is listed by that pass: it is not added again.
    bool Add(const std::u16string& path, Arrival arrival, uint64_t nowMs, platform::FileTime since,
             bool caughtUp);

    bool Pending() const { return !m_folders.empty(); }
    // Names taken in since this monotonic time are still needed; the
    // largest time when none waits.
    uint64_t StartMonotonicMs() const;
    // The earliest `since` of the folders that wait; `none` when none does.
    platform::FileTime OldestSince(platform::FileTime none) const;

    // The folder the next pass lists, from after what the last pass over it
    // handed back.
    const NewFolder& BeginPass();
    // The folder of the pass begun last; only until EndPass.
    const NewFolder& Listed() const;
    // As LossWindows::EndPass: after the pass found `found` (`more` when its
    // budget cut it short) and the first `taken` were dealt with, the folder
    // is done, or its next pass goes on after them.
    void EndPass(const std::vector<RecoveredEntry>& found, bool more, std::size_t taken);

    std::size_t Bytes() const { return m_bytes; }

private:
    std::size_t m_limit;
    std::size_t m_bytes = 0;
    bool m_passBegun = false;
    std::deque<NewFolder> m_folders;
};
