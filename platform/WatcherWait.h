#pragma once
#include "platform/DirectoryChanges.h"
#include "platform/ScannerProcess.h"

namespace platform {

inline constexpr unsigned kWaitForever = 0xFFFFFFFFu;

// A watcher's one blocking wait: returns once `request` has completed, or
// `scanner` has exited, or `milliseconds` have passed, whichever comes
// first. Either of the two may be null; with both null and no time-out it
// would never return, so callers never ask for that.
void WaitForChangesOrScanner(ChangeRequest* request, ProcessHandle scanner,
                             unsigned milliseconds);

} // namespace platform
