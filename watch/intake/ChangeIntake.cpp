#include "watch/intake/ChangeIntake.h"
#include "watch/names/NameCost.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "watch/intake/ChangeRecords.h"
#include "watch/Invariant.h"
#include "watch/intake/RecoveryPass.h"
#include "watch/names/ScanFilters.h"

namespace {

// The wall clock may drift from the monotonic one (a time service slews
// it); a reading this far behind where the last one says it should be was
// set back.
constexpr platform::FileTime kClockStepTolerance = 1000 * kFileTicksPerMs;

// Only names that could be scanned are remembered as taken: one that no
// filter lets through costs nothing when a pass hands it back, and under a
// flood of such names the bound would otherwise forget the few that count.
bool Remembered(const std::u16string& name)
{
    return !IsExcludedExtension(name);
}

} // namespace

ChangeIntake::ChangeIntake(platform::ChangeRequest& request, std::size_t pendingBytes, std::size_t takenBytes,
                           WatchStats& stats, ChangedName changed)
    : m_request(request), m_stats(stats), m_changed(std::move(changed)), m_pending(pendingBytes),
      m_taken(takenBytes), m_folders(pendingBytes / 4)
{
}

bool ChangeIntake::Start()
{
    const bool issued = Issue();
    m_lastGoodIssue = m_issuedAt; // nothing before the watch began is new
    return issued;
}

void ChangeIntake::CatchUp(platform::FileTime from)
{
    // Both ends on the monotonic clock at the first issue: names taken in
    // from the start on are remembered while the window waits, and a clock
    // set back since the stop cannot stretch the window.
    const ClockMark start{from, m_lastGoodIssue.monotonicMs};
    m_losses.Widen(start, m_lastGoodIssue);
    m_catchingUp = true;
}

void ChangeIntake::Poll()
{
    if (m_refused || !platform::ChangeRequestCompleted(m_request))
        return;
    TakeIn();
    m_refused = !Issue();
}

bool ChangeIntake::Issue()
{
    PELMON_INVARIANT(!m_outstanding); // one request at a time: the system fills its buffer
    // Read just before: the window of a loss must begin no later than the
    // changes the next completion could report.
    m_issuedAt = ReadClocks();
    const bool issued = platform::IssueChangeRequest(m_request, m_refusal);
    m_outstanding = issued;
    if (m_lostSinceIssue) {
        // What the lost records named happened after the last request whose
        // records arrived was issued, and before this one was.
        m_losses.Widen(m_lastGoodIssue, m_issuedAt);
        m_lostSinceIssue = false;
    }
    return issued;
}

void ChangeIntake::TakeIn()
{
    PELMON_INVARIANT(m_outstanding);
    m_outstanding = false;
    const platform::CompletedChanges completed = platform::TakeCompletedChanges(m_request);
    const ClockMark now = ReadClocks();
    if (!completed.lost) {
        // What these records name happened after the last request whose
        // records were all taken in was issued: before that, it would have
        // come with that request.
        const platform::FileTime since = m_lastGoodIssue.wall - std::min(m_lastGoodIssue.wall, kClockSlack);
        std::vector<PendingChange> batch;
        std::size_t bytes = 0;
        // A writer makes a record for every write: one name in the queue for
        // all of a batch will do, and a name that arrived earlier in it stands
        // for the changes that follow (its offer looks at what is there then).
        std::unordered_set<std::u16string> named;
        WalkChangeRecords(completed.records, completed.bytes, [&](const ChangeRecord& record) {
            if (record.action == kFileActionModified && !record.name.empty() && m_changed) {
                if (m_changed(record.name) || !named.insert(record.name).second)
                    return;
                bytes += NameCost(record.name);
                batch.push_back(PendingChange{record.name, Arrival::Changed, false, since});
                return;
            }
            // A name that arrives by a rename is new content too; removals
            // and old names are never offered on their own.
            if ((record.action != kFileActionAdded && record.action != kFileActionRenamedNewName) ||
                record.name.empty())
                return;
            if (m_changed)
                named.insert(record.name);
            bytes += NameCost(record.name);
            batch.push_back(PendingChange{record.name,
                                          record.action == kFileActionAdded ? Arrival::Added : Arrival::Renamed,
                                          false, since});
        });
        if (m_pending.Fits(bytes)) {
            for (PendingChange& change : batch) {
                if (Remembered(change.name))
                    m_taken.Add(now, change.name);
                m_pending.Push(std::move(change));
            }
            m_lastGoodIssue = m_issuedAt;
            ForgetTaken();
            ++m_stats.batches;
            if (m_pending.Bytes() > m_stats.peakPendingBytes)
                m_stats.peakPendingBytes = m_pending.Bytes();
            return;
        }
    }
    // Lost by the system, or more than the queue may hold: either way the
    // tree is listed for it once the next request is out.
    m_lostSinceIssue = true;
    ++m_stats.losses;
}

bool ChangeIntake::FolderArrived(const std::u16string& name, Arrival arrival, platform::FileTime since,
                                 bool caughtUp)
{
    // What is taken in from a little before now is remembered until the
    // folder is listed: its files' own records need not be handed back.
    const uint64_t now = ReadClocks().monotonicMs;
    return m_folders.Add(name, arrival, now - std::min(now, kClockSlackMs), since, caughtUp);
}

bool ChangeIntake::TakeRecovered(const RecoveryPass& pass)
{
    const std::vector<RecoveredEntry>& found = pass.Found();
    // Cheap first: while names wait, the result waits until it fits whole.
    if (!m_pending.Empty() && !m_pending.Fits(pass.FoundBytes()))
        return false;
    // Taken in while the pass listed, or still in the queue: not twice.
    std::unordered_set<std::u16string_view> pending;
    for (const auto* names : {&m_pending.Changes(), &m_pending.CaughtUp()})
        for (const PendingChange& change : *names)
            pending.insert(change.name);
    // A new folder's files arrived as it did; what a loss window found
    // changed in the lost time is scanned even if the cache holds its name,
    // as a name that arrives by a rename is.
    const bool newFolder = pass.ForNewFolder();
    const Arrival arrival = newFolder ? m_folders.Listed().arrival : Arrival::Recovered;
    // The window starts no later than the pass's span.
    const platform::FileTime since = newFolder ? m_folders.Listed().since : m_losses.Window().start.wall;
    const bool caughtUp = newFolder ? m_folders.Listed().caughtUp : m_catchingUp;
    std::size_t taken = 0;
    std::size_t bytes = 0;
    std::vector<PendingChange> recovered;
    for (const RecoveredEntry& entry : found) {
        if (!m_taken.TakenSince(entry.path, entry.latest) && !pending.count(entry.path)) {
            const std::size_t cost = NameCost(entry.path);
            if (!m_pending.Fits(bytes + cost) && !(m_pending.Empty() && recovered.empty()))
                break;
            bytes += cost;
            recovered.push_back(PendingChange{entry.path, arrival, newFolder, since, caughtUp});
        }
        ++taken;
    }
    pending.clear(); // it points into the queue, which grows now
    const ClockMark now = ReadClocks();
    for (PendingChange& change : recovered) {
        if (Remembered(change.name))
            m_taken.Add(now, change.name); // a later pass over the same time hands it back no more
        m_pending.Push(std::move(change));
    }
    if (m_pending.Bytes() > m_stats.peakPendingBytes)
        m_stats.peakPendingBytes = m_pending.Bytes();
    if (newFolder) {
        m_stats.listedInNewFolders += recovered.size();
        ++m_stats.newFolderPasses;
        m_folders.EndPass(found, pass.More(), taken);
    } else {
        m_stats.recovered += recovered.size();
        ++m_stats.recoveryPasses;
        m_losses.EndPass(found, pass.More(), taken);
        m_catchingUp = m_catchingUp && m_losses.Pending();
    }
    ForgetTaken();
    return true;
}

platform::FileTime ChangeIntake::HeldSince() const
{
    // Records that completed after the last good issue, taken in or not,
    // name what happened after it; a loss window starts before its records.
    platform::FileTime since = m_lastGoodIssue.wall - std::min(m_lastGoodIssue.wall, kClockSlack);
    if (m_losses.Pending())
        since = std::min(since, m_losses.Window().start.wall);
    return m_folders.OldestSince(m_pending.OldestSince(since));
}

ClockMark ChangeIntake::ReadClocks()
{
    const ClockMark now = ::ReadClocks();
    const platform::FileTime gone =
        (now.monotonicMs - std::min(now.monotonicMs, m_lastReading.monotonicMs)) * kFileTicksPerMs;
    if (m_lastReading.wall != 0 && now.wall + kClockStepTolerance < m_lastReading.wall + gone)
        m_taken.WallClockSetBack(m_lastReading.monotonicMs, m_lastReading.wall + gone - now.wall);
    m_lastReading = now;
    return now;
}

// Names are remembered from a little before the last request that
// completed normally, for a loss that may follow, for the whole window
// while there is one, and since the oldest new folder that waits for its
// listing was taken in.
void ChangeIntake::ForgetTaken()
{
    m_stats.takenForgotten = m_taken.ForgottenByBound();
    const uint64_t lastGood = m_lastGoodIssue.monotonicMs - std::min(m_lastGoodIssue.monotonicMs, kClockSlackMs);
    m_taken.ForgetBefore(std::min({lastGood, m_losses.StartMonotonicMs(), m_folders.StartMonotonicMs()}));
}
