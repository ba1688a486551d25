#include "watch/WatcherState.h"

platform::DirHandle hMonitorDir1 = nullptr;
platform::DirHandle hMonitorDir2 = nullptr;

WatcherState& StateOf(WatcherKind kind)
{
    static WatcherState programData;
    static WatcherState profiles;
    return kind == WatcherKind::ProgramData ? programData : profiles;
}

platform::DirHandle& HandleVariableOf(WatcherKind kind)
{
    return kind == WatcherKind::ProgramData ? hMonitorDir1 : hMonitorDir2;
}
