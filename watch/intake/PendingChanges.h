#pragma once
#include <cstddef>
#include <deque>
#include <string>

// How a name came to be offered: created, arrived by a rename, found by a
// recovery changed in the time whose records were lost, or reported changed
// in place.
enum class Arrival { Added, Renamed, Recovered, Changed };

struct PendingChange {
    std::u16string name; // relative to the watched root, as the system reports it
    Arrival arrival = Arrival::Added;
    // Found by listing a folder that arrived: `arrival` is the folder's.
    bool inNewFolder = false;
};

// The names a watcher has taken in but not yet offered, oldest first. Its
// size is bounded in bytes, so a flood of new files cannot make the monitor
// grow without limit: a batch that does not fit is refused whole, and the
// watcher then treats it as records the system lost.
class PendingChanges {
public:
    explicit PendingChanges(std::size_t byteLimit) : m_limit(byteLimit) {}

    std::size_t Limit() const { return m_limit; }
    std::size_t FreeBytes() const { return m_bytes < m_limit ? m_limit - m_bytes : 0; }
    bool Fits(std::size_t bytes) const { return bytes <= FreeBytes(); }

    // The caller checks Fits first.
    void Push(PendingChange change);
    PendingChange Pop();
    bool Empty() const { return m_changes.empty(); }

    std::size_t Bytes() const { return m_bytes; }
    const std::deque<PendingChange>& Changes() const { return m_changes; }

private:
    std::size_t m_limit;
    std::size_t m_bytes = 0;
    std::deque<PendingChange> m_changes;
};
