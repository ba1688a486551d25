#pragma once
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/ScannerProcess.h"
#include "watch/WaitingFiles.h"

// The scanner's side of a watcher: one scanner call at a time, started here
// and waited for in the watcher's one blocking wait, never with a time-out,
// and its answer read.
//
// Files handed over wait in order until the scanner is idle; then one call
// takes as many as are ready, up to 64 within 30,000 characters of command
// line, since a burst would otherwise cost a process start per file. Exit
// status 0 (clean) and 1 (found, and moved to the quarantine folder,
// recorded in "SuccessScanLogs.txt" for each file that left its place) mean
// the files were scanned. Anything else, or a scanner that cannot be
// started, means they were not: a call of several files is split, each then
// tried alone so that the one that failed is found; a file that fails alone
// waits and is tried again while it exists (see WaitingFiles), and the
// start and the end of such an outage are each reported once in
// "ErrorFunctionLogs.txt". A failed scan of a file that no longer exists is
// no outage: the file is simply gone.
class ScannerStage {
public:
    static constexpr std::size_t kFilesPerCall = 64;
    static constexpr std::size_t kCommandChars = 30000;

    ScannerStage(const std::wstring& programDataPath, const std::wstring& watchRoot,
                 std::size_t waitingBytes);
    ScannerStage(const ScannerStage&) = delete;
    ScannerStage& operator=(const ScannerStage&) = delete;

    // True when no call runs.
    bool Idle() const { return m_running == nullptr; }

    // Hands a file over: it is ready, behind the files before it, or, while
    // files wait for a failing scanner, it waits behind them.
    void Submit(const std::u16string& name, const wxString& candidate, uint64_t nowMs);
    // The next call is full: the loop offers nothing more until it runs.
    bool ReadyFull() const;
    bool HasReady() const { return !m_ready.empty(); }
    // The call for the ready files is due even while more could join it:
    // it is full, or its first file has been ready this long. A file that
    // arrives amid a flood of names the filters turn away would otherwise
    // wait until all of them had been offered.
    static constexpr uint64_t kGatherMs = 250;
    bool CallDue(uint64_t nowMs) const;
    // Starts one call for the ready files, in their order; only when idle.
    void StartReady(uint64_t nowMs);

    // While the scanner fails, starts the try of the oldest waiting file
    // when it is due; once it works again, makes every waiting file ready.
    // False when there was nothing to do.
    bool StartDueRetry(uint64_t nowMs);
    bool HasWaiting() const { return !m_waiting.Empty(); }
    // While the scanner fails, no new file is handed to it: only the oldest
    // waiting one is tried, now and then.
    bool Failing() const { return m_waiting.Failing(); }
    // How long until a waiting file is due; only while some wait.
    uint64_t MillisecondsToNextRetry(uint64_t nowMs) const { return m_waiting.MillisecondsToNextTry(nowMs); }

    // The running call, for the wait; null when idle.
    platform::ProcessHandle Running() const { return m_running; }

    // Never blocks: once the call has ended, its answer is read.
    // `queuedElsewhere`: new names that wait in the pending queue meanwhile,
    // for the report when the scanner works again.
    void Poll(uint64_t nowMs, std::size_t queuedElsewhere);

private:
    struct Ready {
        WaitingFiles::File file;
        std::wstring target; // the path the scanner is given
        bool alone = false;  // its call failed: it goes alone, to find the culprit
        uint64_t readyAtMs = 0;
    };

    void Start(std::vector<Ready> call, bool isRetry, uint64_t nowMs);
    void Scanned(uint64_t nowMs, std::size_t queuedElsewhere);
    void Found();
    void Split();
    void NotScanned(const std::wstring& how, uint64_t nowMs);

    const std::wstring& m_programDataPath;
    const std::wstring& m_watchRoot;
    const std::size_t m_baseChars; // the command line before its targets
    WaitingFiles m_waiting;
    std::deque<Ready> m_ready;
    std::size_t m_readyChars = 0;
    // A watcher killed during a call leaves it running to its own end.
    platform::ProcessHandle m_running = nullptr;
    std::vector<Ready> m_call;
    bool m_callIsRetry = false;
};
