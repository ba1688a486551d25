#pragma once
// A watcher of the program-data folder run by a benchmark in its own
// process, with the product's limits, so that it can read its counters.
#include <windows.h>
#include <wx/thread.h>

#include <string>

#include "platform/DirectoryChanges.h"
#include "product/ProductLayout.h"
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
        // Each run measures its own work: with the mark an earlier run left,
        // it would first catch up on that run's files.
        for (const wchar_t* mark : {kProgramDataMark, kProfilesMark})
            DeleteFileW(ProductFileOf(kBenchRoot, mark).c_str());
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
