#include "watch/RescanSpacing.h"

#include <algorithm>

namespace {

// Beyond this many doublings every spacing has long reached its bound; the
// shift stays defined.
constexpr unsigned kMostDoublings = 40;

uint64_t Doubled(uint64_t base, unsigned times, uint64_t bound)
{
    return std::min(base << std::min(times, kMostDoublings), bound);
}

} // namespace

void RescanSpacing::Changed(uint64_t nowMs)
{
    if (m_changedSinceMs != kNotDue)
        return;
    // Rested since its last scan: a new run, spaced from the beginning.
    if (m_scans > 0 && nowMs - m_lastScanMs >= m_longestMs)
        m_scans = 0;
    m_changedSinceMs = nowMs;
}

void RescanSpacing::Scanned(uint64_t nowMs)
{
    ++m_scans;
    m_lastScanMs = nowMs;
    m_changedSinceMs = kNotDue;
}

uint64_t RescanSpacing::SpacingMs() const
{
    return Doubled(kFirstQuietMs, m_scans, std::max(m_longestMs, kFirstQuietMs));
}

uint64_t RescanSpacing::QuietMs() const
{
    return std::min(SpacingMs(), kLongestQuietMs);
}

uint64_t RescanSpacing::EarliestMs() const
{
    return m_scans == 0 ? 0 : m_lastScanMs + SpacingMs();
}

uint64_t RescanSpacing::OverdueAtMs() const
{
    if (m_changedSinceMs == kNotDue)
        return kNotDue;
    // A minute for the first scan of a run and for the second, then twice
    // as long each time.
    const uint64_t after = Doubled(m_firstOverdueMs, m_scans == 0 ? 0 : m_scans - 1,
                                   std::max(m_longestMs, m_firstOverdueMs));
    return std::max(m_changedSinceMs + after, EarliestMs());
}
