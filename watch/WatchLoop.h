#pragma once
#include <wx/string.h>
#include <wx/thread.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/DirectoryChanges.h"
#include "watch/KillGate.h"
#include "watch/WatchLimits.h"
#include "watch/names/RecentNameCache.h"
#include "watch/WatchStats.h"
#include "watch/WatcherState.h"

// Everything one watcher's loop works with.
struct WatchContext {
    wxThread& thread;
    WatcherKind kind;
    std::wstring programDataPath;
    std::wstring watchRoot;
    platform::ChangeRequest& request;
    KillGate& gate;
    RecentNameCache& cache;
    WatchStats& stats;
    // The bounds of its memory and its time limits, all together so that
    // none can be left out.
    const WatchLimits& limits;
};

// Keeps one change request outstanding at all times and offers every added
// entry, in record order, to the filters, the cache and the scanner, one
// scan at a time. Records that complete while a scan runs are taken in at
// once, so the system never has to hold more than a moment's worth; when it
// loses records all the same, the tree is listed to find what they named.
// Runs until a request is refused and the work taken in is done, or the
// thread is asked to stop.
void RunWatchLoop(const WatchContext& context);
