#include "supervisor/Supervisor.h"

#include <wx/init.h>

#include "platform/Sleep.h"
#include "platform/ThreadStop.h"
#include "supervisor/ServiceProbe.h"
#include "watch/WatcherLifecycle.h"

namespace {

constexpr unsigned kPollMilliseconds = 100;
// A stop that takes longer than this is stuck; the process ends anyway.
constexpr unsigned kStopDeadlineMilliseconds = 2000;

} // namespace

int RunMonitor()
{
    wxInitialize();

    bool started = false;
    for (;;) {
        uint32_t state = 0;
        if (GetServiceStatusW(state) != kErrorSuccess || state != kServiceRunning)
            break;
        // Each is created once: in the first pass, or never.
        StartWatcher(WatcherKind::ProgramData);
        StartWatcher(WatcherKind::Profiles);
        started = true;
        platform::SleepMilliseconds(kPollMilliseconds);
    }

    if (started)
        platform::ArmStopWatchdog(kStopDeadlineMilliseconds);
    StopWatcher(WatcherKind::ProgramData);
    StopWatcher(WatcherKind::Profiles);

    wxUninitialize();
    return 0;
}

