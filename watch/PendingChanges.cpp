#include "watch/PendingChanges.h"

#include <utility>

#include "watch/Invariant.h"

namespace {

// The queue slot and the string's own header and heap block overhead.
constexpr std::size_t kOverheadBytes = 64;

} // namespace

std::size_t PendingChanges::CostOf(const std::u16string& name)
{
    return kOverheadBytes + name.size() * sizeof(char16_t);
}

void PendingChanges::Push(PendingChange change)
{
    // The bound holds, but for a first name that alone exceeds it.
    PELMON_INVARIANT(Fits(CostOf(change.name)) || m_changes.empty());
    m_bytes += CostOf(change.name);
    m_changes.push_back(std::move(change));
}

PendingChange PendingChanges::Pop()
{
    PELMON_INVARIANT(!m_changes.empty());
    PendingChange change = std::move(m_changes.front());
    m_changes.pop_front();
    m_bytes -= CostOf(change.name);
    return change;
}
