#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Owned.h"
#include "platform/ScannerProcess.h"
#include "watch/scan/FileRetries.h"
#include "watch/scan/ScanCommand.h"
#include "watch/scan/WaitingFiles.h"
#include "watch/WatchLimits.h"

// The scanner's side of a watcher: one scanner call at a time, started here
// and waited for in the watcher's one blocking wait, and its answer read. A
// call that runs past its deadline (see WatchLimits) is ended, and counts
// as failed.
//
// Files handed over wait in order until the scanner is idle; then one call
// takes as many as are ready and fit its command line (see ScanCommand),
// since a burst would otherwise cost a process start and a connection to
// the daemon per file. Only the line's width bounds a call: a failed one is
// told file by file from the client's output, or halved when that was lost,
// so its size costs a few calls more at worst; its deadline grows with its
// files up to kDeadlineFiles. Exit
// status 0 (clean) and 1 (found, and moved to the quarantine folder,
// recorded in "SuccessScanLogs.txt" for each file that left its place) mean
// the files were scanned. Anything else, or a scanner that cannot be
// started, means they were not, and whose fault that was is decided without
// reading anything a file name could steer:
// - files gone meanwhile explain it: the rest go again;
// - a missing quarantine folder is made again, and the files go again;
//   something else in its place stops all scanning until it is a folder;
// - when the scanner has just answered well (the call before this one
//   succeeded, or a ping of its daemon does now), the files are at fault:
//   a call of several is halved until the file that fails alone is found,
//   and that file is tried again alone on a back-off of its own (see
//   FileRetries) while all others go on;
// - otherwise the scanner is out: its files wait, nothing new is handed
//   over, only the oldest waiting file is tried now and then (see
//   WaitingFiles), and the start and the end of such an outage are each
//   reported once in "ErrorFunctionLogs.txt".
class ScannerStage {
public:
    // A ping answers in milliseconds; one that does not within this long
    // comes from a daemon that does not work.
    static constexpr uint64_t kPingDeadlineMs = 30000;
    // A call is given the time of this many files at most (see WatchLimits):
    // a client that hangs holds its watcher's scans no longer than a call of
    // 64 files could, however many a call carries. A call of so many large
    // files that it needs longer is ended, the daemon answers, and its halves
    // go on as for any failed call, until they fit their time.
    static constexpr std::size_t kDeadlineFiles = 64;

    ScannerStage(const std::wstring& programDataPath, const std::wstring& watchRoot, const WatchLimits& limits);
    ScannerStage(const ScannerStage&) = delete;
    ScannerStage& operator=(const ScannerStage&) = delete;
    // A watcher that ends during a call, stopped or (in the test doubles,
    // which unwind a killed thread) killed, leaves the call to run to its own
    // end, its handle untouched: nothing of the watcher is waited for or
    // closed under the stop.
    ~ScannerStage() { m_running.Release(); }

    // True when no call runs.
    bool Idle() const { return !m_running; }

    // Hands a file over: it is ready, behind the files before it, or, while
    // the scanner is out, it waits behind the files that wait. A file
    // scanned again for a change goes behind every new file, so that such
    // scans never hold up a new one. `since` as PendingChange's.
    enum class Order { InTurn, BehindNewFiles };
    void Submit(const std::u16string& name, platform::FileTime since, uint64_t nowMs, Order order = Order::InTurn);
    // The next call is full: it is due at once.
    bool ReadyFull() const { return m_baseChars + m_readyChars >= kCommandChars; }
    // The ready files fill the next call and the one after it: the loop
    // offers nothing more until a call takes some. So the files of a burst
    // are looked at while a call runs, ready for the call after it, and the
    // ready files stay bounded.
    bool ReadyForTwoCalls() const { return m_readyChars >= 2 * (kCommandChars - m_baseChars); }
    bool HasReady() const { return !m_ready.empty(); }
    std::size_t ReadyCount() const { return m_ready.size(); }
    // The call for the ready files is due even while more could join it:
    // it is full, or its first file has been ready this long. A file that
    // arrives amid a flood of names the filters turn away would otherwise
    // wait until all of them had been offered.
    static constexpr uint64_t kGatherMs = 250;
    bool CallDue(uint64_t nowMs) const;
    // How long until the call is due with no more files; only while some
    // are ready.
    uint64_t MillisecondsToCallDue(uint64_t nowMs) const;
    // Starts one call for the ready files, in their order; only when idle.
    void StartReady(uint64_t nowMs);

    // While the scanner is out, starts the try of the oldest waiting file
    // when it is due; once it works again, makes every waiting file ready,
    // and tries a file that failed alone when its try is due. False when
    // there was nothing to do.
    bool StartDueRetry(uint64_t nowMs);
    // Files wait for a try: for the scanner to work again, or alone.
    bool HasWaiting() const { return !m_waiting.Empty() || !m_retries.Empty(); }
    // While the scanner is out and a file waits to carry the tries, or a
    // try or its ping runs, no new file is handed to it. Once none waits
    // (the last one went away), new files are taken on until one waits, so
    // that a try is always due.
    bool Failing() const { return m_waiting.Failing() && (!m_waiting.Empty() || m_running); }
    // How long until a waiting file's try is due; only while some wait.
    uint64_t MillisecondsToNextRetry(uint64_t nowMs) const;

    // The earliest `since` of the files not yet scanned: ready, in the
    // running call, or waiting for the scanner to work again; `none` when
    // there is none. A file that failed alone is named in the log when it
    // first fails and is tried again while it exists: it holds nothing
    // back, or one unreadable file would hold it back for ever.
    platform::FileTime OldestSince(platform::FileTime none) const;

    // The running call, for the wait; null when idle.
    platform::ProcessHandle Running() const { return m_running.Get(); }
    // How long the running call may still run.
    uint64_t MillisecondsToDeadline(uint64_t nowMs) const { return m_deadlineMs > nowMs ? m_deadlineMs - nowMs : 0; }

    // Never blocks: once the call has ended, or its deadline has passed,
    // its answer is read. `queuedElsewhere` counts the new files that wait
    // outside this stage (queued names, files set aside), for the report
    // when the scanner works again; it is asked only then.
    void Poll(uint64_t nowMs, const std::function<std::size_t()>& queuedElsewhere = {});

private:
    enum class CallKind {
        Files,     // ready files, or part of a call that failed
        OutageTry, // the oldest waiting file, while the scanner is out
        FileRetry, // a file that failed alone
        Ping,      // whether the daemon answers, after a call failed
    };

    struct Ready {
        WaitingFiles::File file;
        std::wstring target;  // the path the scanner is given
        unsigned group = 0;   // a part of a failed call, or a file that goes alone
        uint64_t readyAtMs = 0;
        bool byFolder = false; // the target is the folder above the file
        bool behind = false;   // handed over behind the new files
    };

    // What a call's client printed is read only for a detection; it is
    // small (a line a file), and what a bigger one says past this is lost.
    static constexpr std::size_t kOutputLimit = 1 << 20;

    bool Prepare(Ready& ready);
    void Start(std::vector<Ready> call, CallKind kind, uint64_t nowMs);
    bool StartPrepared(WaitingFiles::File file, CallKind kind, uint64_t nowMs);
    void Scanned(uint32_t code, const std::string* printed, uint64_t nowMs,
                 const std::function<std::size_t()>& queuedElsewhere);
    void Found(const std::string* printed);
    void RecordFound(const std::wstring& when, const std::wstring& path);
    void NotScanned(const std::wstring& how, bool askDaemon, uint64_t nowMs, const std::string* printed = nullptr);
    void PingAnswered(bool works, uint64_t nowMs);
    void Blame(uint64_t nowMs);
    void Outage(const std::wstring& how, uint64_t nowMs);
    bool VaultOutage();
    void PutBack(std::vector<Ready> call, bool asOne);
    std::size_t Pending(const std::function<std::size_t()>& queuedElsewhere) const;

    const std::wstring& m_programDataPath;
    const std::wstring& m_watchRoot;
    const WatchLimits& m_limits;
    const std::size_t m_baseChars; // the command line before its targets
    WaitingFiles m_waiting;
    FileRetries m_retries;
    std::deque<Ready> m_ready;
    std::size_t m_readyChars = 0;
    unsigned m_lastGroup = 0;
    // A watcher killed during a call leaves it running to its own end, and
    // this owner is never destroyed; see the destructor for one stopped.
    platform::Owned<platform::ProcessHandle, platform::CloseProcess> m_running;
    uint64_t m_startedMs = 0;
    uint64_t m_deadlineMs = 0;
    std::vector<Ready> m_call; // during a ping, the files whose call failed
    std::string m_printed;     // what the last call printed, when kept
    CallKind m_kind = CallKind::Files;
    CallKind m_failedKind = CallKind::Files; // the call a ping is about
    std::wstring m_failedHow;
    unsigned m_retryTries = 0;    // of the file a FileRetry call tries
    uint64_t m_retryIntervalMs = 0;
    // The last answer of the scanner, to a scan or a ping, was a good one:
    // a call that fails right after it failed for its files.
    bool m_scannerAnswered = false;
    bool m_vaultReported = false;
};
