#pragma once
// The Win32 layout of a folder listing, shared by the adapters that use its
// event.
#include <windows.h>

#include <vector>

#include "platform/DirectoryListing.h"

namespace platform {

// Owned by the watcher and, while it runs, by the thread of the first read:
// the last of them to let go closes the folder and frees it, so a listing
// closed (or a watcher stopped) during that read leaves the thread nothing
// that has gone.
struct FolderListingTag {
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE firstReadEnded = nullptr; // manual reset: set once the first read has ended
    volatile LONG owners = 1;
    // Written by the first read before its event is set, read after it.
    bool firstReadOk = false;
    // The watcher's alone.
    bool firstAsked = false;
    bool firstTaken = false;
    // DWORD-aligned, as the records require. 64 KiB: a few hundred entries,
    // a millisecond or two of work, per batch.
    std::vector<DWORD> buffer = std::vector<DWORD>(16384);
};

} // namespace platform
