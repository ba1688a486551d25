#include "watch/WatcherLifecycle.h"

#include "platform/ThreadStop.h"
#include "watch/WatcherThreads.h"

void StartWatcher(WatcherKind kind)
{
    WatcherState& state = StateOf(kind);
    if (state.thread)
        return;
    state.cache = RecentNameCache();
    state.stats.Reset();
    if (kind == WatcherKind::ProgramData)
        state.thread = new ThreadMonitorDir1();
    else
        state.thread = new ThreadMonitorDir2();
    state.gate.HoldForNewWatcher();
    if (state.thread->Create(0) != wxTHREAD_NO_ERROR || state.thread->Run() != wxTHREAD_NO_ERROR)
        state.gate.ReleaseUnstartedWatcher(); // no thread will ever release it
}

void StopWatcher(WatcherKind kind)
{
    WatcherState& state = StateOf(kind);
    if (!state.thread)
        return;
    // A finished thread is joined rather than killed in the middle of the
    // library's thread exit; Kill then finds it not running.
    const bool finished = state.gate.CloseForStop();
    if (finished)
        state.thread->Wait();
    if (state.thread->Kill() == wxTHREAD_NO_ERROR)
        platform::AwaitKilledThread(*state.thread);

    platform::DirHandle& handle = HandleVariableOf(kind);
    if (handle && handle != platform::InvalidDirHandle())
        platform::CloseDirectory(handle);

    delete state.thread;
    state.thread = nullptr;
    state.gate.ReopenAfterStop();
}
