#include "watch/WatcherThreads.h"

#include <exception>

#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "product/ProductLayout.h"
#include "platform/KnownFolders.h"
#include "platform/UserProfiles.h"
#include "log/SystemErrorText.h"
#include "watch/WatchLimits.h"
#include "watch/WatchLoop.h"
#include "watch/WatcherState.h"

namespace {

void RunWatcher(wxThread& thread, WatcherKind kind)
{
    WatcherState& state = StateOf(kind);

    const std::wstring programDataPath = GetAppDataFolderPath();
    std::wstring watchRoot;
    if (kind == WatcherKind::ProgramData) {
        watchRoot = programDataPath;
        WriteLogEntry(kSuccessAppConLogs, L"PELMON: AppData Dir Path: %s", watchRoot.c_str());
    } else {
        // A root that cannot be read is announced empty; opening it then
        // fails and the watcher ends, as for an unresolvable program-data
        // folder.
        if (!platform::GetProfilesRoot(watchRoot))
            watchRoot.clear();
        WriteLogEntry(kSuccessAppConLogs, L"PELMON: Profile Dir Path: %s", watchRoot.c_str());
    }

    uint32_t error = 0;
    const platform::DirHandle directory = platform::OpenWatchedDirectory(watchRoot, error);
    HandleVariableOf(kind) = directory;
    if (directory == platform::InvalidDirHandle()) {
        WriteLogEntry(kErrorFunctionLogs,
                      L"In CreateFileW: \"%s\" cannot be watched: %S; new files there are not scanned.",
                      watchRoot.c_str(), SystemReasonOf(error).c_str());
        return;
    }

    // Never freed: a request may still be pending in it when the watcher is
    // killed, until the directory is closed.
    state.request = platform::CreateChangeRequest(directory, kWatchLimits.notifyBufferBytes);
    if (!state.request)
        return; // without an event there is nothing to wait on

    const WatchContext context{thread,      kind,       programDataPath, watchRoot,  *state.request,
                               state.gate,  state.cache, state.stats,    kWatchLimits};
    RunWatchLoop(context);
}

// Runs the watcher; whatever happens, it marks itself finished, or a stop
// would wait for it until the last-resort deadline.
void RunAndFinish(wxThread& thread, WatcherKind kind)
{
    try {
        RunWatcher(thread, kind);
    } catch (const std::exception&) {
        // Memory ran out, say, while a list file or a batch was taken in:
        // the watcher ends, as it does when its root cannot be opened, and
        // says so if it still can.
        try {
            WriteLogEntry(kErrorFunctionLogs, L"PELMON: a watcher ran out of memory and ended; new files in its "
                                              L"folder are not scanned.");
        } catch (const std::exception&) {
        }
    }
    StateOf(kind).gate.MarkFinished();
}

} // namespace

wxThread::ExitCode ThreadMonitorDir1::Entry()
{
    RunAndFinish(*this, WatcherKind::ProgramData);
    return nullptr;
}

wxThread::ExitCode ThreadMonitorDir2::Entry()
{
    RunAndFinish(*this, WatcherKind::Profiles);
    return nullptr;
}
