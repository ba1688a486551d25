#pragma once
#include <cstddef>
#include <deque>
#include <string>

#include "platform/DirectoryListing.h"

// How a name came to be offered: created, arrived by a rename, found by a
// recovery changed in the time whose records were lost, or reported changed
// in place.
enum class Arrival { Added, Renamed, Recovered, Changed };

struct PendingChange {
    std::u16string name; // relative to the watched root, as the system reports it
    Arrival arrival = Arrival::Added;
    // Found by listing a folder that arrived: `arrival` is the folder's.
    bool inNewFolder = false;
    // A file time no later than any the entry could have been stamped with
    // when it arrived: while the name is held, a listing of the tree from
    // here on finds it again after a restart (see ProgressMark).
    platform::FileTime since = 0;
    // Found by the listing at start for the time no monitor ran: it gives
    // way to names that arrive meanwhile (see PendingChanges).
    bool caughtUp = false;
};

// The names a watcher has taken in but not yet offered, oldest first. Its
// size is bounded in bytes, so a flood of new files cannot make the monitor
// grow without limit: a batch that does not fit is refused whole, and the
// watcher then treats it as records the system lost. Names caught up at
// start wait behind all others, in an order of their own: thousands of
// them must not hold up a file that arrives after the start.
class PendingChanges {
public:
    explicit PendingChanges(std::size_t byteLimit) : m_limit(byteLimit) {}

    std::size_t Limit() const { return m_limit; }
    std::size_t FreeBytes() const { return m_bytes < m_limit ? m_limit - m_bytes : 0; }
    bool Fits(std::size_t bytes) const { return bytes <= FreeBytes(); }

    // The caller checks Fits first.
    void Push(PendingChange change);
    // The next name: the oldest of the others, or else of those caught up.
    const PendingChange& Next() const;
    PendingChange Pop();
    bool Empty() const { return m_changes.empty() && m_caughtUp.empty(); }
    std::size_t Size() const { return m_changes.size() + m_caughtUp.size(); }

    std::size_t Bytes() const { return m_bytes; }
    const std::deque<PendingChange>& Changes() const { return m_changes; }
    const std::deque<PendingChange>& CaughtUp() const { return m_caughtUp; }
    // The earliest `since` of the names held; `none` when there is none.
    platform::FileTime OldestSince(platform::FileTime none) const;

private:
    std::size_t m_limit;
    std::size_t m_bytes = 0;
    std::deque<PendingChange> m_changes;
    std::deque<PendingChange> m_caughtUp;
};
