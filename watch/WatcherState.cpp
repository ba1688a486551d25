#include "watch/WatcherState.h"

platform::DirHandle hMonitorDir1 = nullptr;
platform::DirHandle hMonitorDir2 = nullptr;

WatcherState& StateOf(WatcherKind kind)
{
    // Never destroyed: a thread that was not stopped, or did not end when
    // killed, may still use its state as the process ends, and is never
    // deleted under it.
    static WatcherState& programData = *new WatcherState;
    static WatcherState& profiles = *new WatcherState;
    return kind == WatcherKind::ProgramData ? programData : profiles;
}

platform::DirHandle& HandleVariableOf(WatcherKind kind)
{
    return kind == WatcherKind::ProgramData ? hMonitorDir1 : hMonitorDir2;
}
