#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/Owned.h"
#include "watch/intake/LossWindows.h"
#include "watch/intake/NewFolders.h"
#include "watch/intake/TakenNames.h"

// One listing of the tree below a watched root for a loss window, as
// Microsoft documents for lost change records, one batch of entries a step,
// so that the watcher takes records in, offers names and answers a stop
// between batches, inside a folder of any size too, and while the system
// reads a folder the first time (see Waiting). It collects, in path
// order, the entries past what earlier passes handed back whose creation,
// last write or last change lies in the window and that were not taken in
// since they last changed, as many as `budgetBytes` of pending names hold
// (at least one). Reparse points are listed but never entered; folders that
// cannot be opened are skipped, and one that fails part way gives what was
// read of it.
//
// A folder is new when it was created in the window, or moved or renamed
// into the tree then (its change time moved and its last write did not).
// One that was there before and was only given children is not, and is not
// handed back: its new children are found on their own. A file system
// without creation times (Wine's) reports the last write in their place;
// so a folder new by its creation time alone that holds an entry older than
// the window was there before after all.
//
// A pass for a new folder lists only below it, and collects every file
// there whatever its times (all of them arrived with the folder), except
// those taken in since they last changed. The folders below it are entered,
// not collected: what they hold is collected itself.
class RecoveryPass {
public:
    // Most folders are read the first time in a few ms: that is waited for
    // as any batch is, or under a flood the watcher's other work would
    // starve the read of the processor. Only a longer read is left to run.
    static constexpr unsigned kFirstReadWaitMs = 20;

    RecoveryPass() = default;
    RecoveryPass(const RecoveryPass&) = delete;
    RecoveryPass& operator=(const RecoveryPass&) = delete;

    void Begin(const LossWindow& window, std::size_t budgetBytes);
    void Begin(const NewFolder& folder, std::size_t budgetBytes);
    bool Active() const { return m_active; }
    // The pass lists a new folder rather than for lost time.
    bool ForNewFolder() const { return m_newFolder; }

    // Reads the next batch of entries, opening the next folder when none is
    // open. True once the last folder is read to its end: the result below
    // is complete.
    bool Step(const std::wstring& root, const TakenNames& taken);
    bool Listed() const { return m_listed; }
    // The listing whose first read the last step found still running (see
    // ReadFolderListing), for the watcher's wait; null when none.
    platform::FolderListing Waiting() const { return m_waiting ? m_listing.Get() : nullptr; }

    // The result, in path order; `More` when the budget cut it short.
    const std::vector<RecoveredEntry>& Found() const { return m_found; }
    // What the result would cost in the pending queue.
    std::size_t FoundBytes() const { return m_keptBytes; }
    bool More() const { return m_more; }
    // Entries looked at by the last step.
    std::size_t ListedByLastStep() const { return m_listedByStep; }

    // The caller has dealt with the result.
    void End();

private:
    struct Folder {
        std::u16string path;
        // New by its creation time alone: kept once it has been read to its
        // end without an entry older than the window.
        bool keptIfNoOlderEntry = false;
        platform::FileTime latest = 0;
    };

    void Start(std::u16string from, std::size_t budgetBytes);
    void Consider(const platform::DirectoryEntry& entry, const TakenNames& taken);
    void ConsiderInNewFolder(const platform::DirectoryEntry& entry, std::u16string path, const TakenNames& taken);
    void Keep(std::u16string path, platform::FileTime latest);
    bool InWindow(platform::FileTime time) const;
    void EndFolder();

    bool m_active = false;
    bool m_listed = false;
    bool m_newFolder = false;
    LossWindow m_window{}; // a new folder's pass uses only its `after`
    std::size_t m_budgetBytes = 0;
    std::vector<Folder> m_folders; // still to be listed
    Folder m_folder;               // the one being listed
    platform::Owned<platform::FolderListing, platform::CloseFolderListing> m_listing;
    bool m_waiting = false;
    std::map<std::u16string, platform::FileTime> m_kept;
    std::size_t m_keptBytes = 0;
    std::vector<RecoveredEntry> m_found;
    bool m_more = false;
    std::size_t m_listedByStep = 0;
    std::vector<platform::DirectoryEntry> m_entries;
};
