#include "watch/scan/FileRetries.h"

#include <algorithm>
#include <utility>

#include "watch/Invariant.h"

bool FileRetries::Add(WaitingFiles::File file, uint64_t nowMs)
{
    if (m_bytes + WaitingFiles::CostOf(file) > m_limit)
        return false;
    Retry retry;
    retry.file = std::move(file);
    Put(std::move(retry), nowMs + kFirstIntervalMs);
    return true;
}

void FileRetries::Failed(Retry retry, uint64_t nowMs)
{
    retry.intervalMs = std::min(retry.intervalMs * 2, kLongestIntervalMs);
    ++retry.tries;
    const uint64_t due = nowMs + retry.intervalMs;
    Put(std::move(retry), due);
}

void FileRetries::Put(Retry retry, uint64_t dueMs)
{
    m_bytes += WaitingFiles::CostOf(retry.file);
    m_due.emplace(dueMs, std::move(retry));
}

bool FileRetries::TakeDue(uint64_t nowMs, Retry& retry)
{
    if (m_due.empty() || m_due.begin()->first > nowMs)
        return false;
    retry = std::move(m_due.begin()->second);
    m_due.erase(m_due.begin());
    m_bytes -= WaitingFiles::CostOf(retry.file);
    return true;
}

uint64_t FileRetries::MillisecondsToNextTry(uint64_t nowMs) const
{
    PELMON_INVARIANT(!m_due.empty());
    const uint64_t due = m_due.begin()->first;
    return due <= nowMs ? 0 : due - nowMs;
}
