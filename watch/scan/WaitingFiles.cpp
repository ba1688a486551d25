#include "watch/scan/WaitingFiles.h"
#include "watch/names/NameCost.h"

#include <algorithm>
#include <utility>

#include "watch/Invariant.h"

std::size_t WaitingFiles::CostOf(const File& file)
{
    // Twice what a pending name costs, as when a file held its name in two
    // forms: the bounds were set for that, and as many files fit as ever.
    return NameCost(file.name) * 2;
}

bool WaitingFiles::Fits(const File& file) const
{
    return m_bytes + CostOf(file) <= m_limit;
}

bool WaitingFiles::Failed(File file, bool wasTried, uint64_t nowMs)
{
    if (!m_failing) {
        m_failing = true;
        m_failingSinceMs = nowMs;
        m_intervalMs = kFirstIntervalMs;
    } else if (wasTried) {
        m_intervalMs = std::min(m_intervalMs * 2, kLongestIntervalMs);
    }
    m_nextTryMs = nowMs + m_intervalMs;
    // The one tried came from the head: it goes back there, to keep the
    // order of arrival. It always fits where it was.
    if (!wasTried && !Fits(file))
        return false;
    m_bytes += CostOf(file);
    if (wasTried)
        m_files.push_front(std::move(file));
    else
        m_files.push_back(std::move(file));
    return true;
}

bool WaitingFiles::Queue(File file)
{
    if (!Fits(file))
        return false;
    m_bytes += CostOf(file);
    m_files.push_back(std::move(file));
    return true;
}

void WaitingFiles::Succeeded()
{
    m_failing = false;
    m_intervalMs = 0;
    m_nextTryMs = 0;
}

void WaitingFiles::TryAgainNow(uint64_t nowMs)
{
    m_nextTryMs = nowMs;
}

void WaitingFiles::TryAgainNow(File file, uint64_t nowMs)
{
    m_bytes += CostOf(file);
    m_files.push_front(std::move(file));
    m_nextTryMs = nowMs;
}

platform::FileTime WaitingFiles::OldestSince(platform::FileTime none) const
{
    for (const File& file : m_files)
        none = std::min(none, file.since);
    return none;
}

uint64_t WaitingFiles::MillisecondsToNextTry(uint64_t nowMs) const
{
    PELMON_INVARIANT(!m_files.empty());
    return m_nextTryMs <= nowMs ? 0 : m_nextTryMs - nowMs;
}

bool WaitingFiles::TakeDue(uint64_t nowMs, File& file)
{
    if (m_files.empty() || m_nextTryMs > nowMs)
        return false;
    file = std::move(m_files.front());
    m_files.pop_front();
    m_bytes -= CostOf(file);
    return true;
}
