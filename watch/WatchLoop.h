#pragma once
#include <wx/string.h>
#include <wx/thread.h>

#include <cstddef>
#include <functional>
#include <string>

#include "platform/DirectoryChanges.h"
#include "watch/KillGate.h"
#include "watch/RecentNameCache.h"
#include "watch/WatcherState.h"

// Everything one watcher's loop works with.
struct WatchContext {
    wxThread& thread;
    WatcherKind kind;
    std::wstring programDataPath;
    std::wstring watchRoot;
    platform::DirHandle directory;
    platform::ChangeRequest& request;
    KillGate& gate;
    RecentNameCache& cache;
};

// Keeps one change request outstanding, waits for it and offers every added
// entry to the filters, the cache and the scanner, until a request is
// refused or the thread is asked to stop.
void RunWatchLoop(const WatchContext& context);

// Walks the FILE_NOTIFY_INFORMATION records of one completed request in
// buffer order and hands the candidate of every added entry to `offer`.
// Records that do not lie wholly inside the `bytes` that the system wrote
// are not read, nor is a record that would start inside the one before.
void WalkChangeRecords(const unsigned char* buffer, std::size_t bytes,
                       const std::function<void(const wxString&)>& offer);

// The candidate for a record's UTF-16 name: its round trip through the ANSI
// code page, so filters, cache and scanner see the best-fit form.
wxString ConvertRecordName(const char16_t* name, std::size_t units);

// The filter steps for one candidate, then the scan if they all admit it.
void OfferCandidate(const WatchContext& context, const wxString& candidate);
