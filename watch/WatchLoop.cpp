#include "watch/WatchLoop.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "platform/WatcherWait.h"
#include "watch/ChangeRecords.h"
#include "watch/PendingChanges.h"
#include "watch/Recovery.h"
#include "watch/ScanDispatch.h"
#include "watch/ScanFilters.h"
#include "watch/SetAsideFiles.h"
#include "watch/Utf16.h"

namespace {

// File times can lag the clock a watcher reads by a tick of the file
// system's coarser clock; a recovery starts this much earlier (100 ms).
constexpr platform::FileTime kClockSlack = 1000000;
// How many names taken in from records a recovery remembers, so as not to
// offer them again.
constexpr std::size_t kTakenNamesRemembered = 65536;

class WatchLoop {
public:
    explicit WatchLoop(const WatchContext& context)
        : m_context(context), m_pending(context.pendingBytes), m_taken(kTakenNamesRemembered)
    {
    }

    void Run();

private:
    bool Issue();
    void TakeIn();
    bool KeepRecovering();
    bool Recover();
    bool ScanSetAsideFile();
    void Offer(const PendingChange& change);
    void Scan(const wxString& candidate);

    const WatchContext& m_context;
    PendingChanges m_pending;
    TakenNames m_taken;
    Recovery m_recovery;
    SetAsideFiles m_setAside;
    platform::ProcessHandle m_scanner = nullptr;
    platform::FileTime m_issuedAt = 0;
    platform::FileTime m_lastGoodIssue = 0;
    bool m_lostSinceIssue = false;
    bool m_refused = false;
};

void WatchLoop::Run()
{
    if (!Issue())
        return;
    m_lastGoodIssue = m_issuedAt; // nothing before the watch began is new
    if (m_context.thread.TestDestroy())
        return;
    for (;;) {
        // Work while no scan runs: a set-aside file whose writer is done,
        // then candidates in the order taken in, then what a recovery finds
        // once they are all offered.
        while (!m_scanner && !m_context.gate.StopRequested()) {
            if (ScanSetAsideFile())
                continue;
            if (!m_pending.Empty())
                Offer(m_pending.Pop());
            else if (!m_recovery.Pending() || !Recover())
                break;
        }
        if (m_refused && !m_scanner && m_pending.Empty() && !m_recovery.Pending() &&
            m_setAside.Empty())
            return;

        // The one blocking wait, for the change request and the running
        // scanner together: records are read while a scan runs. It has a
        // time-out only while files are set aside and could be scanned;
        // during a scan, its end is what the watcher waits for.
        const bool looksDue = !m_setAside.Empty() && !m_scanner && !m_context.gate.StopRequested();
        const unsigned timeout =
            looksDue ? static_cast<unsigned>(m_setAside.MillisecondsToNextCheck(platform::MonotonicMilliseconds()))
                     : platform::kWaitForever;
        m_context.gate.Park();
        platform::WaitForChangesOrScanner(m_refused ? nullptr : &m_context.request, m_scanner, timeout);
        m_context.gate.Unpark();
        if (m_context.thread.TestDestroy())
            return;

        if (!m_refused && platform::ChangeRequestCompleted(m_context.request)) {
            TakeIn();
            m_refused = !Issue();
        }
        if (m_scanner && platform::ProcessExited(m_scanner)) {
            platform::CloseProcess(m_scanner);
            m_scanner = nullptr;
        }
    }
}

bool WatchLoop::Issue()
{
    // Read just before: the window of a loss must begin no later than the
    // changes the next completion could report.
    m_issuedAt = platform::CurrentFileTime();
    const bool issued = platform::IssueChangeRequest(m_context.request);
    if (m_lostSinceIssue) {
        // What the lost records named happened after the last request whose
        // records arrived was issued, and before this one was.
        m_recovery.ScheduleLoss(m_lastGoodIssue - std::min(m_lastGoodIssue, kClockSlack), m_issuedAt);
        m_lostSinceIssue = false;
    }
    return issued;
}

void WatchLoop::TakeIn()
{
    const platform::CompletedChanges completed = platform::TakeCompletedChanges(m_context.request);
    const platform::FileTime now = platform::CurrentFileTime();
    if (!completed.lost) {
        std::vector<PendingChange> batch;
        std::size_t bytes = 0;
        WalkChangeRecords(completed.records, completed.bytes, [&](const ChangeRecord& record) {
            // A name that arrives by a rename is new content too; removals,
            // modifications and old names are never offered on their own.
            if ((record.action != kFileActionAdded && record.action != kFileActionRenamedNewName) ||
                record.name.empty())
                return;
            bytes += PendingChanges::CostOf(record.name);
            batch.push_back(PendingChange{record.name, record.action == kFileActionAdded
                                                           ? Arrival::Added
                                                           : Arrival::Renamed});
        });
        if (m_pending.Fits(bytes)) {
            for (PendingChange& change : batch) {
                m_taken.Add(now, change.name);
                m_pending.Push(std::move(change));
            }
            m_lastGoodIssue = m_issuedAt;
            m_taken.ForgetBefore(std::min(m_lastGoodIssue - std::min(m_lastGoodIssue, kClockSlack),
                                          m_recovery.EarliestStart()));
            ++m_context.stats.batches;
            if (m_pending.Bytes() > m_context.stats.peakPendingBytes)
                m_context.stats.peakPendingBytes = m_pending.Bytes();
            return;
        }
    }
    // Lost by the system, or more than the queue may hold: either way the
    // tree is listed for it once the next request is out.
    m_lostSinceIssue = true;
    ++m_context.stats.losses;
}

// Between the folders of a recovery: records keep being taken in, and a
// stop is not kept waiting.
bool WatchLoop::KeepRecovering()
{
    if (!m_refused && platform::ChangeRequestCompleted(m_context.request)) {
        TakeIn();
        m_refused = !Issue();
    }
    return !m_context.gate.StopRequested();
}

bool WatchLoop::Recover()
{
    Recovery::Pass pass;
    const uint64_t started = platform::MonotonicMilliseconds();
    const bool completed = m_recovery.Collect(m_context.watchRoot, m_pending.FreeBytes(),
                                              [this] { return KeepRecovering(); }, pass);
    m_context.stats.recoveryMilliseconds += platform::MonotonicMilliseconds() - started;
    m_context.stats.recoveryListed += pass.listed;
    if (!completed)
        return false;
    ++m_context.stats.recoveryPasses;

    // Names the records delivered are offered from there, not twice.
    std::unordered_set<std::u16string_view> pending;
    for (const PendingChange& change : m_pending.Changes())
        pending.insert(change.name);
    std::size_t taken = 0;
    std::size_t bytes = 0;
    std::vector<PendingChange> recovered;
    for (const std::u16string& name : pass.found) {
        if (!m_taken.Contains(name) && !pending.count(name)) {
            const std::size_t cost = PendingChanges::CostOf(name);
            // At least one name goes in, or a tiny bound would stall.
            if (!m_pending.Fits(bytes + cost) && !(m_pending.Empty() && recovered.empty()))
                break;
            bytes += cost;
            recovered.push_back(PendingChange{name, Arrival::Added});
        }
        ++taken;
    }
    pending.clear(); // it points into the queue, which grows now
    for (PendingChange& change : recovered)
        m_pending.Push(std::move(change));
    m_context.stats.recovered += recovered.size();
    m_recovery.Advance(pass, taken);
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
    Scan(candidate);
}

bool WatchLoop::ScanSetAsideFile()
{
    if (m_setAside.Empty())
        return false;
    wxString candidate;
    const auto stateOf = [this](const std::u16string& name) {
        return platform::QueryArrivalState(m_context.watchRoot, name);
    };
    if (!m_setAside.TakeReady(platform::MonotonicMilliseconds(), stateOf, candidate))
        return false;
    Scan(candidate);
    return true;
}

void WatchLoop::Scan(const wxString& candidate)
{
    m_scanner = StartScan(m_context.programDataPath, m_context.watchRoot, candidate);
}

} // namespace

void RunWatchLoop(const WatchContext& context)
{
    WatchLoop(context).Run();
}
