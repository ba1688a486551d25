#include "watch/WatcherThreads.h"

#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "product/ProductLayout.h"
#include "platform/KnownFolders.h"
#include "platform/UserProfiles.h"
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

    const platform::DirHandle directory = platform::OpenWatchedDirectory(watchRoot);
    HandleVariableOf(kind) = directory;
    if (directory == platform::InvalidDirHandle())
        return;

    // Never freed: a request may still be pending in it when the watcher is
    // killed, until the directory is closed.
    state.request = platform::CreateChangeRequest(directory, kWatchLimits.notifyBufferBytes);
    if (!state.request)
        return; // without an event there is nothing to wait on

    const WatchContext context{thread,         kind,       programDataPath, watchRoot,
                               *state.request, state.gate, state.cache,     state.stats,
                               kWatchLimits.pendingBytes};
    RunWatchLoop(context);
}

} // namespace

wxThread::ExitCode ThreadMonitorDir1::Entry()
{
    RunWatcher(*this, WatcherKind::ProgramData);
    StateOf(WatcherKind::ProgramData).gate.MarkFinished();
    return nullptr;
}

wxThread::ExitCode ThreadMonitorDir2::Entry()
{
    RunWatcher(*this, WatcherKind::Profiles);
    StateOf(WatcherKind::Profiles).gate.MarkFinished();
    return nullptr;
}
