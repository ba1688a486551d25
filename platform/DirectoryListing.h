#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// File times in 100 ns units since 1601, as FILETIME counts them.
using FileTime = uint64_t;

struct DirectoryEntry {
    std::u16string name;
    bool directory = false;
    // A junction, symbolic link or other reparse point: never to be
    // followed, since it may lead elsewhere or back up the tree.
    bool reparsePoint = false;
    FileTime created = 0;
    FileTime written = 0;
    // The last change of the entry's name or attributes as well as of its
    // content: a rename or a move into the tree sets it.
    FileTime changed = 0;
};

// The listing of one folder, read a batch at a time so that a folder of
// any size can be left between batches, and during its first read. A pointer to a type of its own,
// like the other handles; whoever opened it closes it.
struct FolderListingTag;
using FolderListing = FolderListingTag*;

// Opens the folder `relative` (UTF-16 units as change records give them,
// without a leading separator; empty for the root itself) below `root` for
// listing. Paths of any length. Null when it cannot be opened, and for a
// reparse point below the root, which is never followed.
FolderListing OpenFolderListing(const std::wstring& root, const std::u16string& relative);

enum class ListingRead {
    Batch,   // `entries` holds the next batch
    Waiting, // the system is still reading; see ListingWaitable
    End,     // none are left, or the rest cannot be read
};

// Reads the next batch of the folder's entries, without "." and "..", into
// `entries` (in place of what they held): on Windows one buffer of the
// system's answer, some hundreds of entries. The first read of a folder is
// made on another thread, since Wine answers it only once it has read and
// sorted every name (a fifth of a second for 150,000): it is waited for up
// to `firstReadWaitMs`, then Waiting until it has ended, and the watcher
// waits for it where it can be stopped.
ListingRead ReadFolderListing(FolderListing listing, std::vector<DirectoryEntry>& entries,
                              unsigned firstReadWaitMs);

void CloseFolderListing(FolderListing listing);

} // namespace platform
