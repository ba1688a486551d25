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
        state.thread.Reset(new ThreadMonitorDir1());
    else
        state.thread.Reset(new ThreadMonitorDir2());
    state.gate.HoldForNewWatcher();
    wxThread& thread = *state.thread.Get();
    if (thread.Create(0) != wxTHREAD_NO_ERROR || thread.Run() != wxTHREAD_NO_ERROR)
        state.gate.ReleaseUnstartedWatcher(); // no thread will ever release it
}

namespace {

// Longer than any thread takes to end once killed, and well inside the
// stop's last-resort deadline.
constexpr unsigned kThreadEndMilliseconds = 1000;

} // namespace

void StopWatcher(WatcherKind kind)
{
    WatcherState& state = StateOf(kind);
    if (!state.thread)
        return;
    // A finished thread is joined rather than killed in the middle of the
    // library's thread exit. A killed one is waited for until it has really
    // ended, before anything it might still touch goes away.
    wxThread& thread = *state.thread.Get();
    if (state.gate.CloseForStop()) {
        thread.Wait();
    } else {
        const platform::ThreadEnd end = platform::PrepareToAwaitEnd(thread);
        if (thread.Kill() != wxTHREAD_NO_ERROR) {
            platform::ReleaseThreadEnd(end); // it never ran
        } else if (!platform::AwaitThreadEnd(end, thread, kThreadEndMilliseconds)) {
            // Still running: its directory, object and gate may be in use
            // yet, so they are left alone; the process is ending.
            state.thread.Release();
            return;
        }
    }

    platform::DirHandle& handle = HandleVariableOf(kind);
    if (handle && handle != platform::InvalidDirHandle())
        platform::CloseDirectory(handle);

    state.thread.Reset();
    state.gate.ReopenAfterStop();
}
