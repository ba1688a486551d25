#pragma once
#include <wx/thread.h>

#include "platform/DirectoryChanges.h"
#include "platform/Owned.h"
#include "watch/KillGate.h"
#include "watch/names/RecentNameCache.h"
#include "watch/WatchStats.h"

enum class WatcherKind { ProgramData, Profiles };

inline void DeleteWatcherThread(wxThread* thread)
{
    delete thread;
}

// What one watcher keeps for the life of the process, beyond its thread's
// own stack.
struct WatcherState {
    // Created by the start, deleted by the stop once it has ended.
    platform::Owned<wxThread*, DeleteWatcherThread> thread;
    KillGate gate;
    RecentNameCache cache;
    // The storage of the change request, which must outlive a killed thread.
    platform::ChangeRequest* request = nullptr;
    WatchStats stats;
};

// Directory handles published by the watchers for the supervisor to close
// at stop. Null until the watcher has tried to open its root; then the
// result of the open, INVALID_HANDLE_VALUE included.
extern platform::DirHandle hMonitorDir1;
extern platform::DirHandle hMonitorDir2;

WatcherState& StateOf(WatcherKind kind);
platform::DirHandle& HandleVariableOf(WatcherKind kind);
