#include "watch/intake/LossWindows.h"

#include <algorithm>
#include <limits>

#include "watch/Invariant.h"

namespace {

ClockMark SlackBefore(const ClockMark& mark)
{
    return ClockMark{mark.wall - std::min(mark.wall, kClockSlack),
                     mark.monotonicMs - std::min(mark.monotonicMs, kClockSlackMs)};
}

} // namespace

void LossWindows::Widen(const ClockMark& from, const ClockMark& to)
{
    // The wall clock should have moved as far as the monotonic one. If it
    // was set back, what happened before the step is stamped up to `from`
    // plus the time gone by, what happened after it from `to` less that
    // time; set on, the plain span holds both.
    const platform::FileTime gone =
        (to.monotonicMs - std::min(to.monotonicMs, from.monotonicMs)) * kFileTicksPerMs;
    ClockMark start = from;
    start.wall = std::min(from.wall, to.wall - std::min(to.wall, gone));
    start = SlackBefore(start);
    ClockMark end = to;
    end.wall = std::max(to.wall, from.wall + gone);
    if (!m_pending) {
        m_window = LossWindow{start, end, std::u16string()};
        m_pending = true;
        return;
    }
    m_window.start.wall = std::min(m_window.start.wall, start.wall);
    m_window.start.monotonicMs = std::min(m_window.start.monotonicMs, start.monotonicMs);
    m_window.end.wall = std::max(m_window.end.wall, end.wall);
    m_window.end.monotonicMs = std::max(m_window.end.monotonicMs, end.monotonicMs);
}

uint64_t LossWindows::StartMonotonicMs() const
{
    // A pass lists for a part of the window: the window starts no later.
    return m_pending ? m_window.start.monotonicMs : std::numeric_limits<uint64_t>::max();
}

const LossWindow& LossWindows::BeginPass()
{
    PELMON_INVARIANT(m_pending);
    if (!m_passBegun || m_pass.after.empty()) {
        m_pass = m_window;
        m_pass.after.clear();
    }
    m_passBegun = true;
    return m_pass;
}

void LossWindows::EndPass(const std::vector<RecoveredEntry>& found, bool more, std::size_t taken)
{
    PELMON_INVARIANT(m_pending && m_passBegun && taken <= found.size());
    if (more || taken < found.size()) {
        // The queue's room cut the pass short: the next lists for the same
        // span from after what was handed back. At least one name was, or
        // the passes would go round for ever.
        PELMON_INVARIANT(taken > 0);
        m_pass.after = found[taken - 1].path;
        return;
    }
    m_passBegun = false;
    const bool startMovedBack = m_window.start.wall < m_pass.start.wall;
    if (!startMovedBack && m_window.end.wall <= m_pass.end.wall) {
        m_pending = false;
        return;
    }
    // Losses widened the window while the pass listed. A start moved back
    // (the clock was set back) is listed for again whole; otherwise only
    // what came after the pass's end, from a little before it, since a
    // folder listed early may have been given an entry stamped just before.
    if (!startMovedBack) {
        const ClockMark from = SlackBefore(m_pass.end);
        m_window.start.wall = std::max(m_window.start.wall, from.wall);
        m_window.start.monotonicMs = std::max(m_window.start.monotonicMs, from.monotonicMs);
    }
}
