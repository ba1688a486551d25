// The watch loop: a small coordinator of the sources of a watcher's work.
//
//   ChangeIntake   the change request, always one outstanding: its records
//                  are taken into the queue of pending names after every
//                  wait and every unit of work; lost records become windows
//                  of time to recover
//   SetAsideFiles  files whose writer still had them open when their turn came
//   RecoveryPass   the listing of the tree for the oldest loss, one folder a step
//   ScannerStage   the files ready to scan, the one running scanner call
//                  (several files a call), its answer, and the files that
//                  wait while the scanner fails
//
// Working (the kill gate held): while the scanner is idle and no stop waits,
// the next due work is taken, in this order: a waiting file whose try is
// due, a set-aside file whose look is due, the oldest pending name while the
// next call has room, a call for the ready files, a recovery step once all
// that is done. Parked: in WaitParked only, one wait for the request, the
// running call and the next look or try together. A watcher is killed only
// there (see KillGate), so nothing it holds while working can be left
// locked; a stop asked for while it works sends it there at once. The loop
// ends when the system has refused a request and nothing is left to do.
#include "watch/WatchLoop.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "platform/WatcherWait.h"
#include "watch/ChangeIntake.h"
#include "watch/RecoveryPass.h"
#include "watch/ScanFilters.h"
#include "watch/ScannerStage.h"
#include "watch/SetAsideFiles.h"
#include "watch/Utf16.h"

namespace {

class WatchLoop {
public:
    explicit WatchLoop(const WatchContext& context)
        : m_context(context),
          m_intake(context.request, context.pendingBytes, context.stats),
          m_scanner(context.programDataPath, context.watchRoot, context.waitingBytes)
    {
    }

    void Run();

private:
    bool TakeNextWork();
    bool ScanSetAsideFile();
    void Offer(const PendingChange& change);
    bool StepRecovery();
    bool Finished() const;
    void WaitParked();

    const WatchContext& m_context;
    ChangeIntake m_intake;
    SetAsideFiles m_setAside;
    RecoveryPass m_recovery;
    ScannerStage m_scanner;
};

void WatchLoop::Run()
{
    if (!m_intake.Start() || m_context.thread.TestDestroy())
        return;
    for (;;) {
        while (m_scanner.Idle() && !m_context.gate.StopRequested() && TakeNextWork())
            m_intake.Poll();
        if (Finished())
            return;
        WaitParked();
        if (m_context.thread.TestDestroy())
            return;
        m_intake.Poll();
        m_scanner.Poll(platform::MonotonicMilliseconds(), m_intake.PendingCount());
    }
}

// One unit of work; false when there is none to do now.
bool WatchLoop::TakeNextWork()
{
    if (m_scanner.StartDueRetry(platform::MonotonicMilliseconds()))
        return true;
    // New work stays where it is while the scanner fails: the intake keeps
    // taking records in, and what its queue cannot hold is recovered later.
    if (m_scanner.Failing())
        return false;
    if (ScanSetAsideFile())
        return true;
    // Names are offered until the next call is full, so that a burst goes
    // to the scanner many files a call.
    if (m_intake.HasPending() && !m_scanner.ReadyFull()) {
        Offer(m_intake.Pop());
        return true;
    }
    if (m_scanner.HasReady()) {
        m_scanner.StartReady(platform::MonotonicMilliseconds());
        ++m_context.stats.scanCalls;
        return true;
    }
    return StepRecovery();
}

bool WatchLoop::ScanSetAsideFile()
{
    if (m_setAside.Empty())
        return false;
    std::u16string name;
    wxString candidate;
    const auto stateOf = [this](const std::u16string& name) {
        return platform::QueryArrivalState(m_context.watchRoot, name);
    };
    const uint64_t now = platform::MonotonicMilliseconds();
    if (!m_setAside.TakeReady(now, stateOf, name, candidate))
        return false;
    m_scanner.Submit(name, candidate, now);
    return true;
}

// The filter steps for one candidate, then the scan if they all admit it.
// The candidate is the name exactly as the file system holds it.
void WatchLoop::Offer(const PendingChange& change)
{
    const wxString candidate = TextOfUnits(change.name);
    // An empty candidate would make the scanner target the whole root.
    if (candidate.empty())
        return;
    if (m_context.kind == WatcherKind::Profiles && !IsInMonitoredFolderList(candidate))
        return;
    if (m_context.kind == WatcherKind::ProgramData && IsInVaultFolder(candidate))
        return;
    if (IsExcludedExtension(candidate))
        return;
    // Gone already (the scanner's own short-lived files, say): nothing to
    // scan, and no place taken in the cache, or the name arriving again
    // would pass unscanned.
    const platform::ArrivalState state = platform::QueryArrivalState(m_context.watchRoot, change.name);
    if (state == platform::ArrivalState::Missing)
        return;
    // A name that arrives by a rename is scanned even when the cache holds
    // it: a download is often renamed over a placeholder scanned empty.
    if (!m_context.cache.AdmitCandidate(candidate) && change.arrival != Arrival::Renamed)
        return;
    // Scanned now, unless another process is still writing it.
    if (!m_setAside.Full() && state == platform::ArrivalState::BeingWritten) {
        m_setAside.Add(change.name, candidate, platform::MonotonicMilliseconds());
        return;
    }
    m_scanner.Submit(change.name, candidate, platform::MonotonicMilliseconds());
}

// Lists one folder for the oldest loss once the queue is empty; a finished
// pass hands what it found to the intake.
bool WatchLoop::StepRecovery()
{
    if (!m_recovery.Active()) {
        if (!m_intake.Losses().Pending())
            return false;
        m_recovery.Begin(m_intake.Losses().BeginOldest(), m_intake.FreeBytes());
    }
    const uint64_t started = platform::MonotonicMilliseconds();
    const bool complete = m_recovery.Step(m_context.watchRoot);
    m_context.stats.recoveryMilliseconds += platform::MonotonicMilliseconds() - started;
    m_context.stats.recoveryListed += m_recovery.ListedByLastStep();
    if (complete) {
        m_intake.TakeRecovered(m_recovery);
        m_recovery.End();
    }
    return true;
}

bool WatchLoop::Finished() const
{
    return m_intake.Refused() && m_scanner.Idle() && !m_scanner.HasWaiting() && !m_scanner.HasReady() &&
           !m_intake.HasPending() &&
           !m_intake.Losses().Pending() && !m_recovery.Active() && m_setAside.Empty();
}

// The one place the watcher parks. It has a time-out only while files are
// set aside or wait for the scanner and could be taken; during a scan, the
// scan's end is what the watcher waits for.
void WatchLoop::WaitParked()
{
    uint64_t timeout = platform::kWaitForever;
    if (m_scanner.Idle() && !m_context.gate.StopRequested()) {
        const uint64_t now = platform::MonotonicMilliseconds();
        if (!m_setAside.Empty() && !m_scanner.Failing())
            timeout = std::min(timeout, m_setAside.MillisecondsToNextCheck(now));
        if (m_scanner.HasWaiting())
            timeout = std::min(timeout, m_scanner.MillisecondsToNextRetry(now));
    }
    m_context.gate.Park();
    platform::WaitForChangesOrScanner(m_intake.Outstanding(), m_scanner.Running(),
                                      static_cast<unsigned>(timeout));
    m_context.gate.Unpark();
}

} // namespace

void RunWatchLoop(const WatchContext& context)
{
    WatchLoop(context).Run();
}
