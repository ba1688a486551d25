#pragma once
#include "platform/DirectoryChanges.h"
#include "watch/KillGate.h"
#include "watch/RecentNameCache.h"

enum class WatcherKind { ProgramData, Profiles };

// What one watcher keeps for the life of the process, beyond its thread:
// its kill gate, its recent-name cache, and the storage of its change
// request, which must outlive a killed thread.
struct WatcherState {
    KillGate gate;
    RecentNameCache cache;
    platform::ChangeRequest* request = nullptr;
};

WatcherState& StateOf(WatcherKind kind);
platform::DirHandle& HandleVariableOf(WatcherKind kind);
