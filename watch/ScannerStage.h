#pragma once
#include <wx/string.h>

#include <string>

#include "platform/ScannerProcess.h"

// The scanner's side of a watcher: one scan at a time, started here and
// waited for in the watcher's one blocking wait, never with a time-out.
class ScannerStage {
public:
    ScannerStage(const std::wstring& programDataPath, const std::wstring& watchRoot)
        : m_programDataPath(programDataPath), m_watchRoot(watchRoot)
    {
    }
    ScannerStage(const ScannerStage&) = delete;
    ScannerStage& operator=(const ScannerStage&) = delete;

    // True when it can take a file.
    bool Idle() const { return m_running == nullptr; }

    // Starts the scan of root\candidate; only when idle.
    void Start(const wxString& candidate);

    // The running scan, for the wait; null when idle.
    platform::ProcessHandle Running() const { return m_running; }

    // Never blocks: once the scan has ended, its process is released.
    void Poll();

private:
    const std::wstring& m_programDataPath;
    const std::wstring& m_watchRoot;
    // A watcher killed during a scan leaves it running to its own end.
    platform::ProcessHandle m_running = nullptr;
};
