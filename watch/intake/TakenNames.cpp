#include "watch/intake/TakenNames.h"

#include <algorithm>

#include "watch/Invariant.h"

namespace {

// The map's node (about 80 bytes with its heap block), its bucket, the
// key's own heap block beyond its units, and the slot in the order.
constexpr std::size_t kOverheadBytes = 128;

} // namespace

std::size_t TakenNames::CostOf(const std::u16string& name)
{
    return kOverheadBytes + name.size() * sizeof(char16_t);
}

void TakenNames::Add(const ClockMark& takenAt, const std::u16string& name)
{
    const std::size_t cost = CostOf(name);
    while (!m_order.empty() && m_bytes + cost > m_limit) {
        ForgetOldest();
        ++m_forgottenByBound;
    }
    const auto found = m_names.try_emplace(name).first;
    ++found->second.count;
    found->second.at = takenAt;
    m_order.push_back(Slot{takenAt.monotonicMs, &found->first});
    m_bytes += cost;
    PELMON_INVARIANT(m_bytes <= m_limit || m_order.size() == 1);
}

void TakenNames::ForgetBefore(uint64_t monotonicMs)
{
    while (!m_order.empty() && m_order.front().monotonicMs < monotonicMs)
        ForgetOldest();
}

bool TakenNames::TakenSince(const std::u16string& name, platform::FileTime latest) const
{
    const auto found = m_names.find(name);
    if (found == m_names.end() || latest > found->second.at.wall)
        return false;
    const ClockMark& at = found->second.at;
    if (m_setBackBy == 0 || at.monotonicMs > m_setBackAt)
        return true;
    // Taken before the clock was set back: the step stamped times from its
    // own moment less its extent on.
    const platform::FileTime untilStep = (m_setBackAt - at.monotonicMs) * kFileTicksPerMs;
    return latest + m_setBackBy < at.wall + untilStep;
}

void TakenNames::WallClockSetBack(uint64_t monotonicMs, platform::FileTime by)
{
    m_setBackAt = monotonicMs;
    m_setBackBy += by;
}

void TakenNames::ForgetOldest()
{
    PELMON_INVARIANT(!m_order.empty());
    const std::u16string& name = *m_order.front().name;
    m_bytes -= CostOf(name);
    const auto found = m_names.find(name);
    PELMON_INVARIANT(found != m_names.end() && found->second.count > 0);
    m_order.pop_front();
    if (--found->second.count == 0)
        m_names.erase(found);
}
