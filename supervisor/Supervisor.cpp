#include "supervisor/Supervisor.h"

#include <wx/init.h>

#include "platform/Sleep.h"
#include "platform/ThreadStop.h"
#include "supervisor/ServiceProbe.h"
#include "watch/WatcherState.h"
#include "watch/WatcherThreads.h"

namespace {

constexpr unsigned kPollMilliseconds = 100;
// A stop that takes longer than this is stuck; the process ends anyway.
constexpr unsigned kStopDeadlineMilliseconds = 2000;

wxThread* programDataWatcher = nullptr;
wxThread* profilesWatcher = nullptr;

template <typename Watcher> void StartWatcher(wxThread*& slot, WatcherKind kind)
{
    // A watcher starts with no recent names, also when the monitor runs
    // again in the same process.
    StateOf(kind).cache = RecentNameCache();
    slot = new Watcher();
    KillGate& gate = StateOf(kind).gate;
    gate.HoldForNewWatcher();
    if (slot->Create(0) != wxTHREAD_NO_ERROR || slot->Run() != wxTHREAD_NO_ERROR)
        gate.ReleaseUnstartedWatcher(); // no thread will ever release it
}

void StopWatcher(wxThread*& slot, WatcherKind kind)
{
    if (!slot)
        return;
    // Once the gate is ours the watcher is parked in a blocking wait, or its
    // Entry has returned. A finished thread is joined rather than killed in
    // the middle of the library's thread exit; Kill then finds it not running.
    KillGate& gate = StateOf(kind).gate;
    const bool finished = gate.CloseForStop();
    if (finished)
        slot->Wait();
    if (slot->Kill() == wxTHREAD_NO_ERROR)
        platform::AwaitKilledThread(*slot);

    platform::DirHandle& handle = HandleVariableOf(kind);
    if (handle && handle != platform::InvalidDirHandle())
        platform::CloseDirectory(handle);

    delete slot;
    slot = nullptr;
    gate.ReopenAfterStop();
}

} // namespace

int RunMonitor()
{
    wxInitialize();

    for (;;) {
        uint32_t state = 0;
        if (GetServiceStatusW(state) != kErrorSuccess || state != kServiceRunning)
            break;
        if (!programDataWatcher)
            StartWatcher<ThreadMonitorDir1>(programDataWatcher, WatcherKind::ProgramData);
        if (!profilesWatcher)
            StartWatcher<ThreadMonitorDir2>(profilesWatcher, WatcherKind::Profiles);
        platform::SleepMilliseconds(kPollMilliseconds);
    }

    if (programDataWatcher || profilesWatcher)
        platform::ArmStopWatchdog(kStopDeadlineMilliseconds);
    StopWatcher(programDataWatcher, WatcherKind::ProgramData);
    StopWatcher(profilesWatcher, WatcherKind::Profiles);

    wxUninitialize();
    return 0;
}

