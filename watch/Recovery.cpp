#include "watch/Recovery.h"

#include <algorithm>
#include <limits>
#include <set>

#include "watch/PendingChanges.h"

void TakenNames::Add(platform::FileTime takenAt, const std::u16string& name)
{
    if (m_order.size() >= m_capacity)
        ForgetOldest();
    m_order.emplace_back(takenAt, name);
    ++m_counts[name];
}

void TakenNames::ForgetBefore(platform::FileTime time)
{
    while (!m_order.empty() && m_order.front().first < time)
        ForgetOldest();
}

bool TakenNames::Contains(const std::u16string& name) const
{
    return m_counts.count(name) != 0;
}

void TakenNames::ForgetOldest()
{
    const auto found = m_counts.find(m_order.front().second);
    if (--found->second == 0)
        m_counts.erase(found);
    m_order.pop_front();
}

void Recovery::ScheduleLoss(platform::FileTime start, platform::FileTime end)
{
    start = std::max(start, m_coveredUntil);
    if (start >= end)
        return;
    m_coveredUntil = end;
    if (!m_windows.empty() && !m_windows.back().begun && m_windows.back().end >= start) {
        m_windows.back().end = end;
        return;
    }
    m_windows.push_back(Window{start, end, std::u16string(), false});
}

platform::FileTime Recovery::EarliestStart() const
{
    return m_windows.empty() ? std::numeric_limits<platform::FileTime>::max()
                             : m_windows.front().start;
}

namespace {

bool InWindow(platform::FileTime time, platform::FileTime start, platform::FileTime end)
{
    return time >= start && time < end;
}

} // namespace

bool Recovery::Collect(const std::wstring& root, std::size_t budgetBytes,
                       const std::function<bool()>& keepGoing, Pass& pass)
{
    // A reference stays valid while `keepGoing` schedules further windows.
    Window& window = m_windows.front();
    window.begun = true;
    pass = Pass();
    std::set<std::u16string> kept;
    std::size_t keptBytes = 0;
    std::vector<std::u16string> folders{std::u16string()};
    std::vector<platform::DirectoryEntry> entries;
    while (!folders.empty()) {
        if (!keepGoing())
            return false;
        const std::u16string folder = std::move(folders.back());
        folders.pop_back();
        if (!platform::ListDirectory(root, folder, entries))
            continue;
        for (const platform::DirectoryEntry& entry : entries) {
            ++pass.listed;
            std::u16string path = folder.empty() ? entry.name : folder + u'\\' + entry.name;
            if (entry.directory && !entry.reparsePoint)
                folders.push_back(path);
            if (!InWindow(entry.created, window.start, window.end) &&
                !InWindow(entry.written, window.start, window.end) &&
                !InWindow(entry.changed, window.start, window.end))
                continue;
            if (!window.after.empty() && path <= window.after)
                continue;
            keptBytes += PendingChanges::CostOf(path);
            kept.insert(std::move(path));
            while (keptBytes > budgetBytes && kept.size() > 1) {
                const auto last = std::prev(kept.end());
                keptBytes -= PendingChanges::CostOf(*last);
                kept.erase(last);
                pass.more = true;
            }
        }
    }
    pass.found.assign(kept.begin(), kept.end());
    return true;
}

void Recovery::Advance(const Pass& pass, std::size_t taken)
{
    if (taken == pass.found.size() && !pass.more) {
        m_windows.pop_front();
        return;
    }
    if (taken > 0)
        m_windows.front().after = pass.found[taken - 1];
}
