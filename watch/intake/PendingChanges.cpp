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
    (change.caughtUp ? m_caughtUp : m_changes).push_back(std::move(change));
}

platform::FileTime PendingChanges::OldestSince(platform::FileTime none) const
{
    // Names found by a recovery join behind later ones with earlier times:
    // the front is not always the oldest.
    for (const auto* names : {&m_changes, &m_caughtUp})
        for (const PendingChange& change : *names)
            none = std::min(none, change.since);
    return none;
}

const PendingChange& PendingChanges::Next() const
{
    PELMON_INVARIANT(!Empty());
    return m_changes.empty() ? m_caughtUp.front() : m_changes.front();
}

PendingChange PendingChanges::Pop()
{
    PELMON_INVARIANT(!Empty());
    std::deque<PendingChange>& from = m_changes.empty() ? m_caughtUp : m_changes;
    PendingChange change = std::move(from.front());
    from.pop_front();
    m_bytes -= NameCost(change.name);
    return change;
}
