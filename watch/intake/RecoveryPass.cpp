#include "watch/intake/RecoveryPass.h"
#include "watch/names/NameCost.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "watch/Invariant.h"
#include "watch/intake/PendingChanges.h"
#include "watch/names/ScanFilters.h"

void RecoveryPass::Begin(const LossWindow& window, std::size_t budgetBytes)
{
    m_newFolder = false;
    m_window = window;
    Start(std::u16string(), budgetBytes);
}

void RecoveryPass::Begin(const NewFolder& folder, std::size_t budgetBytes)
{
    m_newFolder = true;
    m_window = LossWindow{ClockMark{}, ClockMark{}, folder.after};
    Start(folder.path, budgetBytes);
}

void RecoveryPass::Start(std::u16string from, std::size_t budgetBytes)
{
    PELMON_INVARIANT(!m_active && !m_listing);
    m_active = true;
    m_listed = false;
    m_budgetBytes = budgetBytes;
    m_folders.assign(1, Folder{std::move(from), false, 0});
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
        m_listing.Reset(platform::OpenFolderListing(root, m_folder.path));
        if (!m_listing)
            EndFolder(); // skipped: nothing in it tells against it
    }
    m_waiting = false;
    if (m_listing) {
        switch (platform::ReadFolderListing(m_listing.Get(), m_entries, kFirstReadWaitMs)) {
        case platform::ListingRead::Waiting:
            m_waiting = true;
            return false;
        case platform::ListingRead::Batch:
            for (const platform::DirectoryEntry& entry : m_entries)
                Consider(entry, taken);
            return false;
        case platform::ListingRead::End:
            break;
        }
        m_listing.Reset();
        EndFolder();
    }
    if (!m_folders.empty())
        return false;
    m_found.clear();
    m_found.reserve(m_kept.size());
    for (auto& [path, latest] : m_kept)
        m_found.push_back(RecoveredEntry{path, latest});
    m_kept.clear(); // m_keptBytes stays: what the result costs
    m_listed = true;
    return true;
}

void RecoveryPass::End()
{
    m_listing.Reset();
    m_waiting = false;
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
    std::u16string path = m_folder.path.empty() ? entry.name : m_folder.path + u'\\' + entry.name;
    if (m_newFolder) {
        ConsiderInNewFolder(entry, std::move(path), taken);
        return;
    }
    const platform::FileTime start = m_window.start.wall;
    if (entry.created < start && entry.written < start && entry.changed < start)
        m_folder.keptIfNoOlderEntry = false; // the folder was there before the window
    // A file no filter would let through costs the pass nothing to keep: a
    // flood of them must not crowd out the few that are scanned.
    if (!entry.directory && IsExcludedExtension(path))
        return;
    const bool created = InWindow(entry.created);
    const bool written = InWindow(entry.written);
    const bool changed = InWindow(entry.changed);
    bool wanted = created || written || changed;
    platform::FileTime latest = std::max({entry.created, entry.written, entry.changed});
    bool byCreationAlone = false;
    if (entry.directory) {
        const bool moved = changed && !written;
        wanted = created || moved;
        byCreationAlone = created && !moved;
        latest = moved ? entry.changed : entry.created;
    }
    wanted = wanted && (m_window.after.empty() || path > m_window.after) && !taken.TakenSince(path, latest);
    if (entry.directory && !entry.reparsePoint) {
        m_folders.push_back(Folder{path, wanted && byCreationAlone, latest});
        if (byCreationAlone)
            return; // decided once it has been read
    }
    if (wanted)
        Keep(std::move(path), latest);
}

void RecoveryPass::ConsiderInNewFolder(const platform::DirectoryEntry& entry, std::u16string path,
                                       const TakenNames& taken)
{
    if (entry.directory) {
        if (!entry.reparsePoint)
            m_folders.push_back(Folder{std::move(path), false, 0});
        return;
    }
    if (IsExcludedExtension(path))
        return;
    const platform::FileTime latest = std::max({entry.created, entry.written, entry.changed});
    if ((m_window.after.empty() || path > m_window.after) && !taken.TakenSince(path, latest))
        Keep(std::move(path), latest);
}

void RecoveryPass::Keep(std::u16string path, platform::FileTime latest)
{
    const std::size_t cost = NameCost(path);
    if (!m_kept.emplace(std::move(path), latest).second)
        return;
    m_keptBytes += cost;
    while (m_keptBytes > m_budgetBytes && m_kept.size() > 1) {
        const auto last = std::prev(m_kept.end());
        m_keptBytes -= NameCost(last->first);
        m_kept.erase(last);
        m_more = true;
    }
}

void RecoveryPass::EndFolder()
{
    if (m_folder.keptIfNoOlderEntry)
        Keep(std::move(m_folder.path), m_folder.latest);
    m_folder = Folder{};
}
