// The watch loop: a small coordinator of the sources of a watcher's work.
//
//   ChangeIntake   the change request, always one outstanding: its records
//                  are taken into the queue of pending names after every
//                  wait and every unit of work, and changes to the content
//                  of files held go to ArrivedFiles (those of other files
//                  join the queue as changes); lost records widen the
//                  one window of time to recover; folders that arrive wait
//                  there to be listed
//   ArrivedFiles   files set aside until they are quiet, new ones and
//                  those changed in place, then watched, and set aside
//                  again when they change, for a scan of their final
//                  content, scans of one file spaced (RescanSpacing)
//   Recovery       the listing of the tree for that window, or of a folder
//                  that arrived, a batch of entries a step, and its pacing
//                  against the names that wait
//   ScannerStage   the files ready to scan, the one running scanner call
//                  (several files a call), its answer, and the files that
//                  wait while the scanner fails
//   ProgressMark   how far all of the above has dealt with new files, kept
//                  on disk; the next start lists the tree from there as for
//                  lost time, and what it finds waits behind new names
//
// Working (the kill gate held): while no stop waits, the next due work is
// taken, in this order: a waiting file whose try is due, a call for the
// ready files once it is due (full, or its first file ready for a while;
// see CallDue), a set-aside file whose look is due, then the pending names
// (when there is room to set them aside and the next two calls are not
// full) and the recovery steps, which take turns while names wait (see
// Recovery), a call for what is ready unless more files are about to be
// (MoreReadySoon), and the recovery alone once all that is done.
// Calls and tries start only while the scanner is idle; everything else
// goes on while a call runs, so that the next call is gathered and its
// files looked at by the time the running one ends, and under a backlog
// the scanner never waits for the watcher. Parked: in WaitParked only, one
// wait for the request, the running call, a folder's first read and the
// next look or try together. A watcher is killed only there (see
// KillGate), so nothing it holds while working can be left locked; a stop
// asked for while it works sends it there at once. A first read of a
// folder, which Wine makes in one piece however big the folder,
// runs on another thread while the watcher works or waits there. The loop
// ends when the system has refused a request and nothing is left to do.
#include "watch/WatchLoop.h"

#include <algorithm>
#include <vector>

#include "log/LogEntry.h"
#include "platform/Clock.h"
#include "product/ProductLayout.h"
#include "platform/FileAccess.h"
#include "platform/WatcherWait.h"
#include "watch/ArrivedFiles.h"
#include "watch/ProgressMark.h"
#include "watch/intake/ChangeIntake.h"
#include "watch/names/LongNames.h"
#include "watch/intake/Recovery.h"
#include "watch/names/ScanFilters.h"
#include "watch/scan/ScannerStage.h"
#include "log/SystemErrorText.h"
#include "watch/names/Utf16.h"

namespace {

class WatchLoop {
public:
    explicit WatchLoop(const WatchContext& context)
        : m_context(context),
          m_arrived(context.limits.arrivedBytes, context.limits.firstScanLimitMs,
                    context.limits.longestRescanSpacingMs),
          m_intake(context.request, context.limits.pendingBytes, context.limits.takenBytes, context.stats,
                   [this](const std::u16string& name) { return ChangeReported(name); }),
          m_recovery(m_intake, context.watchRoot, context.stats),
          m_scanner(context.programDataPath, context.watchRoot, context.limits),
          m_progress(MarkPathOf(context))
    {
        // The marks' own writes in the watched tree are not work: each would
        // move the mark, and the next write would follow it for ever.
        if (context.watchRoot == context.programDataPath && !context.programDataPath.empty()) {
            for (const wchar_t* mark : {kProgramDataMark, kProfilesMark}) {
                const std::wstring relative = std::wstring(kProductFolderName) + L"\\" + mark;
                m_ownFiles.push_back(UnitsOfWide(relative));
            }
        }
    }

    void Run();

private:
    void ReportRefusal() const;
    bool TakeNextWork();
    bool TakeWorkUnit(uint64_t now);
    void PollBetweenUnits();
    bool LookAtSetAsideFile(uint64_t now);
    bool ChangeReported(const std::u16string& name);
    void Offer(PendingChange change, uint64_t now);
    void FolderArrived(const std::u16string& name, Arrival arrival, platform::FileTime since, bool caughtUp,
                       uint64_t now);
    bool RoomForCaughtUp() const;
    bool MoreReadySoon(uint64_t now) const;
    bool Finished() const;
    bool Settled() const;
    void WaitParked();
    // New files the scanner has not been given yet: queued names, and files
    // set aside during a call, for the report when an outage ends.
    std::size_t NewFilesElsewhere() const { return m_intake.PendingCount() + m_arrived.NotYetScanned(); }
    void PollScanner(uint64_t now);
    static std::wstring MarkPathOf(const WatchContext& context);
    bool OwnFile(const std::u16string& name) const;
    platform::FileTime Mark() const;
    void KeepProgress(uint64_t now, bool whenever);

    const WatchContext& m_context;
    ArrivedFiles m_arrived;
    ChangeIntake m_intake;
    Recovery m_recovery;
    ScannerStage m_scanner;
    ProgressMark m_progress;
    std::vector<std::u16string> m_ownFiles; // the marks, relative to the root
    unsigned m_unitsSincePoll = 0;
    uint64_t m_lastPollMs = 0;
};

void WatchLoop::Run()
{
    if (!m_intake.Start()) {
        ReportRefusal();
        return;
    }
    // What arrived while no watcher ran is listed for as lost time; records
    // are read from the start meanwhile, so nothing between the two is lost.
    const CatchUpPlan plan = m_progress.Load(platform::CurrentFileTime());
    if (plan.catchUp)
        m_intake.CatchUp(plan.from);
    if (m_context.thread.TestDestroy())
        return;
    for (;;) {
        while (!m_context.gate.StopRequested() && TakeNextWork())
            PollBetweenUnits();
        // A stop finds the watcher here when it was at work: the mark is
        // written before it parks to be killed. One that finds it parked
        // does not wait for a write; the last second's writes stand.
        KeepProgress(platform::MonotonicMilliseconds(), m_context.gate.StopRequested());
        if (Finished()) {
            KeepProgress(platform::MonotonicMilliseconds(), true);
            ReportRefusal();
            return;
        }
        WaitParked();
        if (m_context.thread.TestDestroy())
            return;
        m_intake.Poll();
        PollScanner(platform::MonotonicMilliseconds());
    }
}

std::wstring WatchLoop::MarkPathOf(const WatchContext& context)
{
    if (context.programDataPath.empty())
        return std::wstring();
    return ProductFileOf(context.programDataPath,
                         context.kind == WatcherKind::ProgramData ? kProgramDataMark : kProfilesMark);
}

// A mark, or the new file a write of it makes beside it ("<mark>.<pid>.tmp").
bool WatchLoop::OwnFile(const std::u16string& name) const
{
    static const std::u16string kFresh = u".tmp";
    for (const std::u16string& mark : m_ownFiles) {
        if (name == mark)
            return true;
        if (name.size() > mark.size() + kFresh.size() && name.compare(0, mark.size(), mark) == 0 &&
            name[mark.size()] == u'.' && name.compare(name.size() - kFresh.size(), kFresh.size(), kFresh) == 0)
            return true;
    }
    return false;
}

// Everything the watcher holds, from the records not yet taken in to the
// running call, keeps the mark back to the time it arrived.
platform::FileTime WatchLoop::Mark() const
{
    return m_scanner.OldestSince(m_arrived.OldestSince(m_intake.HeldSince()));
}

// Written once a second at most while work moves the mark, and soon once
// the work is all done (see ProgressMark): a stop that follows a burst, which
// finds the watcher waiting and does not wait for a write, then finds the
// mark past it. `whenever` (at a stop, or at the end): as soon as there was
// work since the last.
void WatchLoop::KeepProgress(uint64_t now, bool whenever)
{
    const uint64_t batches = m_context.stats.batches;
    m_progress.RecordsTaken(batches, m_intake.RecordsUpTo());
    if (m_progress.WriteDue(now, Settled()) || (whenever && m_progress.Pending()))
        m_progress.Write(Mark(), now, platform::CurrentFileTime(), batches);
}

// The watcher ends once the system refuses its change request: it would
// learn of no new file any more.
void WatchLoop::ReportRefusal() const
{
    WriteLogEntry(kErrorFunctionLogs,
                  L"In ReadDirectoryChangesW: the watch of \"%s\" ended: %S; new files there are not scanned.",
                  m_context.watchRoot.c_str(), SystemReasonOf(m_intake.Refusal()).c_str());
}

// Whether the request has completed is a question to the system (a server
// round trip under Wine) that cost more than a unit of work itself: asked
// after every unit, it held a flood of names to about 6,000 a second. It is
// asked once the clock has moved on, or after 64 units, long before records
// could fill the request's buffer. So is whether the running call has
// ended, so that the next one starts as soon as it can.
void WatchLoop::PollBetweenUnits()
{
    constexpr unsigned kUnitsPerPoll = 64;
    const uint64_t now = platform::MonotonicMilliseconds();
    if (++m_unitsSincePoll < kUnitsPerPoll && now == m_lastPollMs)
        return;
    m_unitsSincePoll = 0;
    m_lastPollMs = now;
    m_intake.Poll();
    PollScanner(now);
    // A flood keeps the watcher at work for long: its mark moves meanwhile.
    KeepProgress(now, false);
}

// A call that ended is work done: the mark may move.
void WatchLoop::PollScanner(uint64_t now)
{
    const bool calling = !m_scanner.Idle();
    m_scanner.Poll(now, [this] { return NewFilesElsewhere(); });
    if (calling && m_scanner.Idle())
        m_progress.Worked();
}

// One unit of work; false when there is none to do now. Every unit may move
// the mark, but for the offer of a mark's own file.
bool WatchLoop::TakeNextWork()
{
    const uint64_t now = platform::MonotonicMilliseconds();
    if (m_intake.HasPending() && OwnFile(m_intake.Next().name)) {
        // The filters turn it away as they would anyway (its extension);
        // it only must not count as work.
        Offer(m_intake.Pop(), now);
        return true;
    }
    if (!TakeWorkUnit(now))
        return false;
    m_progress.Worked();
    return true;
}

bool WatchLoop::TakeWorkUnit(uint64_t now)
{
    const bool idle = m_scanner.Idle();
    if (idle && m_scanner.StartDueRetry(now))
        return true;
    // New work stays where it is while the scanner fails: the intake keeps
    // taking records in, and what its queue cannot hold is recovered later.
    if (m_scanner.Failing())
        return false;
    if (idle && m_scanner.CallDue(now)) {
        m_scanner.StartReady(now);
        ++m_context.stats.scanCalls;
        return true;
    }
    if (LookAtSetAsideFile(now))
        return true;
    // Names are offered while the next two calls have room, so that a burst
    // goes to the scanner many files a call, and those of the call after
    // the next are looked at while one runs. With no room to set one aside,
    // it waits, and the names behind it with it, until a set-aside file has
    // been scanned (within a minute).
    const bool room = !m_scanner.ReadyForTwoCalls();
    if (room && m_intake.HasPending() && m_recovery.StepWhileNamesWait(now))
        return true;
    if (room && m_intake.HasPending() && (!m_intake.Next().caughtUp || RoomForCaughtUp()) &&
        m_arrived.MakeRoomFor(m_intake.Next().name, now)) {
        Offer(m_intake.Pop(), now);
        m_recovery.NameOffered();
        return true;
    }
    if (idle && m_scanner.HasReady() && !MoreReadySoon(now)) {
        m_scanner.StartReady(now);
        ++m_context.stats.scanCalls;
        return true;
    }
    return m_recovery.Step();
}

// A name caught up at start is offered only while few files are before it,
// set aside or ready: a file that arrives after the start then waits for a
// small call at most, not for the whole catch-up.
bool WatchLoop::RoomForCaughtUp() const
{
    constexpr std::size_t kCaughtUpAhead = 64;
    return m_arrived.SetAsideCount() < kCaughtUpAhead && m_scanner.ReadyCount() < kCaughtUpAhead;
}

// A call for fewer files than it could carry waits while a set-aside file's
// look falls due within moments: the files of a burst become ready one
// look after another, and a call started with the first of them would keep
// the others waiting for its whole length, a process start included. The
// wait ends with the looks, or once the first file has waited its gather.
bool WatchLoop::MoreReadySoon(uint64_t now) const
{
    constexpr uint64_t kSoonMs = 25;
    return m_arrived.SetAside() && m_arrived.MillisecondsToNextLook(now) <= kSoonMs;
}

bool WatchLoop::LookAtSetAsideFile(uint64_t now)
{
    std::u16string name;
    platform::FileTime since = 0;
    const auto lookAt = [this](const std::u16string& name) {
        return platform::LookAtArrival(m_context.watchRoot, name);
    };
    switch (m_arrived.LookAtNext(now, lookAt, name, since)) {
    case ArrivedFiles::Step::None:
        return false;
    case ArrivedFiles::Step::Looked:
        return true;
    case ArrivedFiles::Step::Scan:
        m_scanner.Submit(name, since, now);
        return true;
    case ArrivedFiles::Step::Rescan:
        m_scanner.Submit(name, since, now, ScannerStage::Order::BehindNewFiles);
        return true;
    case ArrivedFiles::Step::Folder:
        // It took the place of a file: what it holds arrived by a rename.
        FolderArrived(name, Arrival::Renamed, since, false, now);
        return true;
    }
    return false;
}

// A record says the content of `name` changed, as it is taken in: true when
// that is dealt with here, a file held, or one the cheap filters turn away
// (by its long name: a short alias has an extension of its own).
bool WatchLoop::ChangeReported(const std::u16string& name)
{
    if (m_arrived.Changed(name, platform::MonotonicMilliseconds()))
        return true;
    if (name.find(u'~') != std::u16string::npos)
        return false;
    return IsExcludedExtension(name) || (m_context.kind == WatcherKind::ProgramData && IsInVaultFolder(name));
}

// The filter steps for one candidate; a file that they all admit is set
// aside until it is quiet. The candidate is the name exactly as the file
// system holds it.
void WatchLoop::Offer(PendingChange change, uint64_t now)
{
    // A record may name the file by a short alias, which the filters and
    // the cache would take for another name.
    change.name = LongNameOf(m_context.watchRoot, change.name);
    const std::u16string& candidate = change.name;
    // An empty candidate would make the scanner target the whole root.
    if (candidate.empty())
        return;
    // Set aside already, or scanned before: its own news, with no filter
    // to pass again.
    if (change.arrival == Arrival::Changed && m_arrived.Changed(change.name, now))
        return;
    if (m_context.kind == WatcherKind::Profiles && !IsInMonitoredFolderList(candidate))
        return;
    if (m_context.kind == WatcherKind::ProgramData && IsInVaultFolder(candidate))
        return;
    // The extension turns a file away, never a folder moved in whole, whose
    // files make no records of their own: a moved-in "pack.tmp" must not
    // hide what it holds. Only such arrivals pay a look to tell.
    const bool excluded = IsExcludedExtension(candidate);
    const bool mayBeFolderMovedIn = change.arrival == Arrival::Renamed || change.arrival == Arrival::Recovered;
    if (excluded && !mayBeFolderMovedIn)
        return;
    // Gone already (the scanner's own short-lived files, say): nothing to
    // scan, and no place taken in the cache, or the name arriving again
    // would pass unscanned.
    const platform::ArrivalLook look = platform::LookAtArrival(m_context.watchRoot, change.name);
    if (look.state == platform::ArrivalState::Missing)
        return;
    if (excluded && look.state != platform::ArrivalState::Folder)
        return;
    // Content replaced in place is new content, whatever the file's age. A
    // folder's own change names nothing new: what arrives in it comes with
    // records of its own. No cache: the name may well have been scanned.
    if (change.arrival == Arrival::Changed) {
        if (look.state != platform::ArrivalState::Folder)
            m_arrived.ChangedUnheld(change.name, look, now, change.since);
        return;
    }
    // A folder is not handed over: the scanner would read all of it, the
    // files the filters exclude too, while they are still being written,
    // and name no file when it finds one. What it holds is listed and
    // offered here file by file, arriving as the folder did. It passes no
    // cache: it is never handed over itself.
    if (look.state == platform::ArrivalState::Folder) {
        FolderArrived(change.name, change.arrival, change.since, change.caughtUp, now);
        return;
    }
    // A file set aside or watched already came by its own record or by its
    // folder's listing: the other names the same arrival, and what is
    // written to it is reported as changes to it.
    const ArrivedFiles::Held held = m_arrived.HeldAs(change.name);
    if ((change.inNewFolder && held != ArrivedFiles::Held::No) ||
        (change.arrival == Arrival::Added && held == ArrivedFiles::Held::ByListing))
        return;
    // A name that arrives by a rename is scanned even when the cache holds
    // it: a download is often renamed over a placeholder scanned empty. So
    // is one a recovery found changed while records were lost: that may
    // have been the rename. A file inside a new folder arrived as the
    // folder did.
    if (!m_context.cache.AdmitCandidate(candidate) && change.arrival != Arrival::Renamed &&
        change.arrival != Arrival::Recovered)
        return;
    m_arrived.Arrived(change.name, look, now, change.since, change.inNewFolder);
}

void WatchLoop::FolderArrived(const std::u16string& name, Arrival arrival, platform::FileTime since, bool caughtUp,
                              uint64_t now)
{
    if (m_intake.FolderArrived(name, arrival, since, caughtUp))
        return;
    // More folders wait for their listing than their bound holds: this one
    // is scanned whole, as before folders were listed, rather than not at
    // all.
    m_scanner.Submit(name, since, now);
}

bool WatchLoop::Finished() const
{
    return m_intake.Refused() && Settled();
}

// Nothing taken in is left to deal with.
bool WatchLoop::Settled() const
{
    return m_scanner.Idle() && !m_scanner.HasWaiting() && !m_scanner.HasReady() && !m_intake.HasPending() &&
           !m_intake.Losses().Pending() && !m_intake.Folders().Pending() && !m_recovery.Active() &&
           !m_arrived.SetAside();
}

// The one place the watcher parks. It has a time-out only while files are
// set aside, ready or wait for the scanner and could be taken, or a pass
// rests, and during a call its deadline; the call's end wakes it too.
void WatchLoop::WaitParked()
{
    uint64_t timeout = platform::kWaitForever;
    platform::FolderListing reading = nullptr;
    const uint64_t now = platform::MonotonicMilliseconds();
    // A call that runs past its deadline is ended.
    if (!m_scanner.Idle())
        timeout = m_scanner.MillisecondsToDeadline(now);
    if (!m_context.gate.StopRequested()) {
        if (m_arrived.SetAside() && !m_scanner.Failing())
            timeout = std::min(timeout, m_arrived.MillisecondsToNextLook(now));
        if (m_scanner.Idle() && m_scanner.HasWaiting())
            timeout = std::min(timeout, m_scanner.MillisecondsToNextRetry(now));
        // A call held for files about to be ready is due at its gather's end.
        if (m_scanner.Idle() && m_scanner.HasReady() && !m_scanner.Failing())
            timeout = std::min(timeout, m_scanner.MillisecondsToCallDue(now));
        if (!m_scanner.Failing()) {
            const Recovery::Wait recovery = m_recovery.WaitFor(now);
            reading = recovery.reading;
            timeout = std::min(timeout, recovery.milliseconds);
        }
    }
    // The mark's next write, during a long call too.
    if (m_progress.Pending() && !m_context.gate.StopRequested())
        timeout = std::min(timeout, m_progress.MillisecondsToWrite(now, Settled()));
    const uint64_t parkedAt = reading ? platform::MonotonicMilliseconds() : 0;
    m_context.gate.Park();
    platform::WaitForWork(m_intake.Outstanding(), m_scanner.Running(), reading, static_cast<unsigned>(timeout));
    m_context.gate.Unpark();
    if (reading)
        m_recovery.ParkedOnFirstRead(platform::MonotonicMilliseconds() - parkedAt);
}

} // namespace

void RunWatchLoop(const WatchContext& context)
{
    WatchLoop(context).Run();
}
