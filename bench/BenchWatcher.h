#pragma once
// A watcher of the program-data folder run by a benchmark in its own
// process, with the product's limits, so that it can read its counters.
#include <wx/thread.h>

#include <string>

#include "platform/DirectoryChanges.h"
#include "watch/WatchLimits.h"
#include "watch/WatchLoop.h"
#include "watch/WatcherState.h"

inline const std::wstring kBenchRoot = L"C:\\ProgramData";

class BenchWatcher : public wxThread {
public:
    BenchWatcher(platform::ChangeRequest& request, WatcherState& state)
        : wxThread(wxTHREAD_JOINABLE), m_request(request), m_state(state)
    {
    }

protected:
    ExitCode Entry() override
    {
        const WatchContext context{*this,         WatcherKind::ProgramData, kBenchRoot,   kBenchRoot,
                                   m_request,     m_state.gate,             m_state.cache, m_state.stats,
                                   kWatchLimits};
        RunWatchLoop(context);
        m_state.gate.MarkFinished();
        return nullptr;
    }

private:
    platform::ChangeRequest& m_request;
    WatcherState& m_state;
};
