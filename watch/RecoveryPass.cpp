#include "watch/RecoveryPass.h"

#include <iterator>
#include <utility>

#include "watch/Invariant.h"
#include "watch/PendingChanges.h"

void RecoveryPass::Begin(const LossWindow& window, std::size_t budgetBytes)
{
    PELMON_INVARIANT(!m_active && !m_listing);
    m_active = true;
    m_listed = false;
    m_window = window;
    m_budgetBytes = budgetBytes;
    m_folders.assign(1, std::u16string());
    m_kept.clear();
    m_keptBytes = 0;
    m_found.clear();
    m_more = false;
    m_listedByStep = 0;
}

bool RecoveryPass::Step(const std::wstring& root, const TakenNames& taken)
{
    PELMON_INVARIANT(m_active && !m_listed);
    m_listedByStep = 0;
    if (!m_listing) {
        PELMON_INVARIANT(!m_folders.empty());
        m_folder = std::move(m_folders.back());
        m_folders.pop_back();
        m_listing = platform::OpenFolderListing(root, m_folder);
    }
    if (m_listing) {
        if (platform::ReadFolderListing(m_listing, m_entries)) {
            for (const platform::DirectoryEntry& entry : m_entries)
                Consider(entry, taken);
            return false;
        }
        CloseListing();
    }
    if (!m_folders.empty())
        return false;
    m_found.assign(m_kept.begin(), m_kept.end());
    m_kept.clear(); // m_keptBytes stays: what the result costs
    m_listed = true;
    return true;
}

void RecoveryPass::End()
{
    CloseListing();
    m_active = false;
    m_listed = false;
    m_folders.clear();
    m_found.clear();
}

bool RecoveryPass::InWindow(platform::FileTime time) const
{
    return time >= m_window.start.wall && time < m_window.end.wall;
}

void RecoveryPass::Consider(const platform::DirectoryEntry& entry, const TakenNames& taken)
{
    ++m_listedByStep;
    std::u16string path = m_folder.empty() ? entry.name : m_folder + u'\\' + entry.name;
    if (entry.directory && !entry.reparsePoint)
        m_folders.push_back(path);
    if (!InWindow(entry.created) && !InWindow(entry.written) && !InWindow(entry.changed))
        return;
    if ((!m_window.after.empty() && path <= m_window.after) || taken.Contains(path))
        return;
    Keep(std::move(path));
}

void RecoveryPass::Keep(std::u16string path)
{
    const std::size_t cost = PendingChanges::CostOf(path);
    if (!m_kept.insert(std::move(path)).second)
        return;
    m_keptBytes += cost;
    while (m_keptBytes > m_budgetBytes && m_kept.size() > 1) {
        const auto last = std::prev(m_kept.end());
        m_keptBytes -= PendingChanges::CostOf(*last);
        m_kept.erase(last);
        m_more = true;
    }
}

void RecoveryPass::CloseListing()
{
    platform::CloseFolderListing(m_listing);
    m_listing = nullptr;
}
