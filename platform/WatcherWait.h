#pragma once
#include "platform/DirectoryChanges.h"
#include "platform/DirectoryListing.h"
#include "platform/ScannerProcess.h"

namespace platform {

inline constexpr unsigned kWaitForever = 0xFFFFFFFFu;

// A watcher's one blocking wait: returns once `request` has completed, or
// `scanner` has exited, or the first read of `listing` has ended (at once
// if it has already), or `milliseconds` have passed, whichever comes first.
// Any of the three may be null; with all null and no time-out it would
// never return, so callers never ask for that.
void WaitForWork(ChangeRequest* request, ProcessHandle scanner, FolderListing listing,
                 unsigned milliseconds);

} // namespace platform
