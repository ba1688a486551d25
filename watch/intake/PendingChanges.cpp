#include "watch/intake/PendingChanges.h"

#include <algorithm>
#include <utility>

#include "watch/Invariant.h"
#include "watch/names/NameCost.h"

void PendingChanges::Push(PendingChange change)
{
    // The bound holds, but for a first name that alone exceeds it.
    PELMON_INVARIANT(Fits(NameCost(change.name)) || m_changes.empty());
    m_bytes += NameCost(change.name);
    m_changes.push_back(std::move(change));
}

platform::FileTime PendingChanges::OldestSince(platform::FileTime none) const
{
    // Names found by a recovery join behind later ones with earlier times:
    // the front is not always the oldest.
    for (const PendingChange& change : m_changes)
        none = std::min(none, change.since);
    return none;
}

PendingChange PendingChanges::Pop()
{
    PELMON_INVARIANT(!m_changes.empty());
    PendingChange change = std::move(m_changes.front());
    m_changes.pop_front();
    m_bytes -= NameCost(change.name);
    return change;
}
