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
    if (state.gate.CloseForStop()) {
        state.thread->Wait();
    } else {
        const platform::ThreadEnd end = platform::PrepareToAwaitEnd(*state.thread);
        if (state.thread->Kill() != wxTHREAD_NO_ERROR) {
            platform::ReleaseThreadEnd(end); // it never ran
        } else if (!platform::AwaitThreadEnd(end, *state.thread, kThreadEndMilliseconds)) {
            // Still running: its directory, object and gate may be in use
            // yet, so they are left alone; the process is ending.
            state.thread = nullptr;
            return;
        }
    }

    platform::DirHandle& handle = HandleVariableOf(kind);
    if (handle && handle != platform::InvalidDirHandle())
        platform::CloseDirectory(handle);

    delete state.thread;
    state.thread = nullptr;
    state.gate.ReopenAfterStop();
}
