#pragma once
// The Win32 layout of a folder listing, shared by the adapters that use its
// event.
#include <windows.h>

#include <memory>
#include <vector>

#include "platform/DirectoryListing.h"

namespace platform {

// Shared by the watcher's listing and, while it runs, the thread of the
// first read: the last of them to let go closes the folder, so a listing
// closed (or a watcher stopped) during that read leaves the thread nothing
// that has gone.
struct FolderRead {
    FolderRead() = default;
    FolderRead(const FolderRead&) = delete;
    FolderRead& operator=(const FolderRead&) = delete;
    ~FolderRead()
    {
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle(folder);
        if (firstReadEnded)
            CloseHandle(firstReadEnded);
    }

    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE firstReadEnded = nullptr; // manual reset: set once the first read has ended
    // Written by the first read before its event is set, read after it.
    bool firstReadOk = false;
    // DWORD-aligned, as the records require. 64 KiB: a few hundred entries,
    // a millisecond or two of work, per batch.
    std::vector<DWORD> buffer = std::vector<DWORD>(16384);
};

// The watcher's own.
struct FolderListingTag {
    std::shared_ptr<FolderRead> read;
    bool firstAsked = false;
    bool firstTaken = false;
};

} // namespace platform
