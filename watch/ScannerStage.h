#pragma once
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ScannerProcess.h"
#include "watch/WaitingFiles.h"

// The scanner's side of a watcher: one scan at a time, started here and
// waited for in the watcher's one blocking wait, never with a time-out, and
// its answer read. Exit status 0 (clean) and 1 (found, and moved to the
// quarantine folder, which is recorded in "SuccessScanLogs.txt") mean the
// file was scanned; anything else, or a scanner that cannot be started,
// means it was not: the file waits and is tried again while it exists
// (see WaitingFiles), and the start and the end of such an outage are each
// reported once in "ErrorFunctionLogs.txt". A failed scan of a file that no
// longer exists is no outage: the file is simply gone.
class ScannerStage {
public:
    ScannerStage(const std::wstring& programDataPath, const std::wstring& watchRoot,
                 std::size_t waitingBytes)
        : m_programDataPath(programDataPath), m_watchRoot(watchRoot), m_waiting(waitingBytes)
    {
    }
    ScannerStage(const ScannerStage&) = delete;
    ScannerStage& operator=(const ScannerStage&) = delete;

    // True when it can take a file.
    bool Idle() const { return m_running == nullptr; }

    // Hands a file over, only when idle: scanned now, or queued behind the
    // files that wait, so that the order of arrival holds.
    void Submit(const std::u16string& name, const wxString& candidate, uint64_t nowMs);

    // Starts the next try of a waiting file when one is due; false when none.
    bool StartDueRetry(uint64_t nowMs);
    bool HasWaiting() const { return !m_waiting.Empty(); }
    // While the scanner fails, no new file is handed to it: only the oldest
    // waiting one is tried, now and then.
    bool Failing() const { return m_waiting.Failing(); }
    // How long until a waiting file is due; only while some wait.
    uint64_t MillisecondsToNextRetry(uint64_t nowMs) const { return m_waiting.MillisecondsToNextTry(nowMs); }

    // The running scan, for the wait; null when idle.
    platform::ProcessHandle Running() const { return m_running; }

    // Never blocks: once the scan has ended, its answer is read.
    // `queuedElsewhere`: new names that wait in the pending queue meanwhile,
    // for the report when the scanner works again.
    void Poll(uint64_t nowMs, std::size_t queuedElsewhere);

private:
    void Start(WaitingFiles::File file, bool isRetry, uint64_t nowMs);
    void Scanned(uint32_t code, uint64_t nowMs, std::size_t queuedElsewhere);
    void NotScanned(const std::wstring& how, uint64_t nowMs);

    const std::wstring& m_programDataPath;
    const std::wstring& m_watchRoot;
    WaitingFiles m_waiting;
    // A watcher killed during a scan leaves it running to its own end.
    platform::ProcessHandle m_running = nullptr;
    WaitingFiles::File m_current;
    bool m_currentIsRetry = false;
};
