#include "watch/LossWindows.h"

#include <algorithm>
#include <limits>

#include "watch/Invariant.h"

void LossWindows::Schedule(platform::FileTime start, platform::FileTime end)
{
    start = std::max(start, m_coveredUntil);
    if (start >= end)
        return;
    m_coveredUntil = end;
    if (!m_windows.empty() && !m_windows.back().begun && m_windows.back().end >= start) {
        m_windows.back().end = end;
        return;
    }
    m_windows.push_back(LossWindow{start, end, std::u16string(), false});
}

platform::FileTime LossWindows::EarliestStart() const
{
    return m_windows.empty() ? std::numeric_limits<platform::FileTime>::max()
                             : m_windows.front().start;
}

const LossWindow& LossWindows::BeginOldest()
{
    PELMON_INVARIANT(!m_windows.empty());
    m_windows.front().begun = true;
    return m_windows.front();
}

void LossWindows::Advance(const std::vector<std::u16string>& found, bool more, std::size_t taken)
{
    PELMON_INVARIANT(!m_windows.empty() && m_windows.front().begun && taken <= found.size());
    if (taken == found.size() && !more) {
        m_windows.pop_front();
        return;
    }
    if (taken > 0)
        m_windows.front().after = found[taken - 1];
}
