#include "watch/ChangeIntake.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "watch/ChangeRecords.h"
#include "watch/Invariant.h"
#include "watch/RecoveryPass.h"

namespace {

// File times can lag the clock a watcher reads by a tick of the file
// system's coarser clock; a loss window starts this much earlier (100 ms).
constexpr platform::FileTime kClockSlack = 1000000;
// How many names taken in from records are remembered, so that a recovery
// does not offer them again.
constexpr std::size_t kTakenNamesRemembered = 65536;

platform::FileTime SlackBefore(platform::FileTime time)
{
    return time - std::min(time, kClockSlack);
}

} // namespace

ChangeIntake::ChangeIntake(platform::ChangeRequest& request, std::size_t pendingBytes, WatchStats& stats,
                           ChangedName changed)
    : m_request(request), m_stats(stats), m_changed(std::move(changed)), m_pending(pendingBytes),
      m_taken(kTakenNamesRemembered)
{
}

bool ChangeIntake::Start()
{
    const bool issued = Issue();
    m_lastGoodIssue = m_issuedAt; // nothing before the watch began is new
    return issued;
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
    m_issuedAt = platform::CurrentFileTime();
    const bool issued = platform::IssueChangeRequest(m_request);
    m_outstanding = issued;
    if (m_lostSinceIssue) {
        // What the lost records named happened after the last request whose
        // records arrived was issued, and before this one was.
        m_losses.Schedule(SlackBefore(m_lastGoodIssue), m_issuedAt);
        m_lostSinceIssue = false;
    }
    return issued;
}

void ChangeIntake::TakeIn()
{
    PELMON_INVARIANT(m_outstanding);
    m_outstanding = false;
    const platform::CompletedChanges completed = platform::TakeCompletedChanges(m_request);
    const platform::FileTime now = platform::CurrentFileTime();
    if (!completed.lost) {
        std::vector<PendingChange> batch;
        std::size_t bytes = 0;
        WalkChangeRecords(completed.records, completed.bytes, [&](const ChangeRecord& record) {
            // A change to content is for the new files that are watched.
            if (record.action == kFileActionModified && !record.name.empty() && m_changed) {
                m_changed(record.name);
                return;
            }
            // A name that arrives by a rename is new content too; removals
            // and old names are never offered on their own.
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
            m_taken.ForgetBefore(std::min(SlackBefore(m_lastGoodIssue), m_losses.EarliestStart()));
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

void ChangeIntake::TakeRecovered(const RecoveryPass& pass)
{
    // Names the records delivered are offered from the queue, not twice.
    std::unordered_set<std::u16string_view> pending;
    for (const PendingChange& change : m_pending.Changes())
        pending.insert(change.name);
    std::size_t taken = 0;
    std::size_t bytes = 0;
    std::vector<PendingChange> recovered;
    for (const std::u16string& name : pass.Found()) {
        if (!m_taken.Contains(name) && !pending.count(name)) {
            const std::size_t cost = PendingChanges::CostOf(name);
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
    m_stats.recovered += recovered.size();
    ++m_stats.recoveryPasses;
    m_losses.Advance(pass.Found(), pass.More(), taken);
}
