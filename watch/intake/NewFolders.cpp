#include "watch/intake/NewFolders.h"
#include "watch/names/NameCost.h"

#include <algorithm>
#include <limits>

#include "watch/Invariant.h"

namespace {

bool LiesIn(const std::u16string& path, const std::u16string& folder)
{
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == u'\\');
}

// A file that arrives by a rename or a recovery is scanned past the
// recent-name cache; one that is created is not.
bool PastTheCache(Arrival arrival)
{
    return arrival != Arrival::Added;
}

} // namespace

bool NewFolders::Add(const std::u16string& path, Arrival arrival, uint64_t nowMs, platform::FileTime since,
                     bool caughtUp)
{
    // Only a folder whose files would meet the cache the same way or more
    // leniently covers it.
    const auto covers = [&](const NewFolder& waiting) {
        return LiesIn(path, waiting.path) && (PastTheCache(waiting.arrival) || !PastTheCache(arrival)) &&
               waiting.since <= since && waiting.caughtUp <= caughtUp;
    };
    const auto from = m_folders.begin() + (m_passBegun ? 1 : 0);
    if (std::any_of(from, m_folders.end(), covers))
        return true;
    const std::size_t cost = NameCost(path);
    if (m_bytes + cost > m_limit)
        return false;
    m_folders.push_back(NewFolder{path, arrival, nowMs, std::u16string(), since, caughtUp});
    m_bytes += cost;
    return true;
}

uint64_t NewFolders::StartMonotonicMs() const
{
    uint64_t start = std::numeric_limits<uint64_t>::max();
    for (const NewFolder& folder : m_folders)
        start = std::min(start, folder.sinceMs);
    return start;
}

platform::FileTime NewFolders::OldestSince(platform::FileTime none) const
{
    for (const NewFolder& folder : m_folders)
        none = std::min(none, folder.since);
    return none;
}

const NewFolder& NewFolders::BeginPass()
{
    PELMON_INVARIANT(!m_folders.empty());
    m_passBegun = true;
    return m_folders.front();
}

const NewFolder& NewFolders::Listed() const
{
    PELMON_INVARIANT(m_passBegun && !m_folders.empty());
    return m_folders.front();
}

void NewFolders::EndPass(const std::vector<RecoveredEntry>& found, bool more, std::size_t taken)
{
    PELMON_INVARIANT(m_passBegun && !m_folders.empty() && taken <= found.size());
    if (more || taken < found.size()) {
        // At least one name was handed back, or the passes would go round
        // for ever.
        PELMON_INVARIANT(taken > 0);
        m_folders.front().after = found[taken - 1].path;
        return;
    }
    m_passBegun = false;
    m_bytes -= NameCost(m_folders.front().path);
    m_folders.pop_front();
}
