#pragma once
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "watch/LossWindows.h"
#include "watch/TakenNames.h"

// One listing of the tree below a watched root for a loss window, as
// Microsoft documents for lost change records, one batch of entries a step,
// so that the watcher takes records in, offers names and answers a stop
// between batches, inside a folder of any size too. It collects, in path
// order, the entries past what earlier passes handed back whose creation,
// last write or last change lies in the window and that were not taken in
// already, as many as `budgetBytes` of pending names hold (at least one).
// Reparse points are listed but never entered; folders that cannot be
// opened are skipped, and one that fails part way gives what was read of
// it.
class RecoveryPass {
public:
    RecoveryPass() = default;
    RecoveryPass(const RecoveryPass&) = delete;
    RecoveryPass& operator=(const RecoveryPass&) = delete;
    ~RecoveryPass() { CloseListing(); }

    void Begin(const LossWindow& window, std::size_t budgetBytes);
    bool Active() const { return m_active; }

    // Reads the next batch of entries, opening the next folder when none is
    // open. True once the last folder is read to its end: the result below
    // is complete.
    bool Step(const std::wstring& root, const TakenNames& taken);
    bool Listed() const { return m_listed; }

    // The result, in path order; `More` when the budget cut it short.
    const std::vector<std::u16string>& Found() const { return m_found; }
    // What the result would cost in the pending queue.
    std::size_t FoundBytes() const { return m_keptBytes; }
    bool More() const { return m_more; }
    // Entries looked at by the last step.
    std::size_t ListedByLastStep() const { return m_listedByStep; }

    // The caller has dealt with the result.
    void End();

private:
    void Consider(const platform::DirectoryEntry& entry, const TakenNames& taken);
    void Keep(std::u16string path);
    bool InWindow(platform::FileTime time) const;
    void CloseListing();

    bool m_active = false;
    bool m_listed = false;
    LossWindow m_window{};
    std::size_t m_budgetBytes = 0;
    std::vector<std::u16string> m_folders; // still to be listed
    std::u16string m_folder;               // the one being listed
    platform::FolderListing m_listing = nullptr;
    std::set<std::u16string> m_kept;
    std::size_t m_keptBytes = 0;
    std::vector<std::u16string> m_found;
    bool m_more = false;
    std::size_t m_listedByStep = 0;
    std::vector<platform::DirectoryEntry> m_entries;
};
