#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "platform/DirectoryChanges.h"
#include "watch/intake/LossWindows.h"
#include "watch/intake/NewFolders.h"
#include "watch/intake/PendingChanges.h"
#include "watch/intake/TakenNames.h"
#include "watch/WatchStats.h"

class RecoveryPass;

// Where a watcher's new names come from: it keeps one change request
// outstanding, takes the records of each completed one into the queue of
// pending names and issues the next at once, and notes when records were
// lost (by the system, or refused by the queue's bound) as a window of time
// for a recovery pass to list the tree for, and the folders that arrived,
// for a pass to list what they hold. It reads only: it never offers or
// scans anything itself.
class ChangeIntake {
public:
    // `changed` hears of each name whose content a record says changed, as
    // the record is taken in, and answers whether it dealt with it (a file
    // it holds, or one it would turn away). Any other such name joins the
    // queue as a change, once a batch. Without it, such records are passed
    // over.
    using ChangedName = std::function<bool(const std::u16string& name)>;

    ChangeIntake(platform::ChangeRequest& request, std::size_t pendingBytes, std::size_t takenBytes,
                 WatchStats& stats, ChangedName changed = {});

    // Issues the first request: what happened before it is not new. False
    // when the system refuses it.
    bool Start();
    // After Start: the tree is to be listed for what was created or moved
    // in from `from` (a wall time) until the first request was issued, as
    // for records the system lost. The monitor was not running then.
    void CatchUp(platform::FileTime from);

    // Never blocks: when the request has completed, takes its records in and
    // issues the next one.
    void Poll();

    // The request to wait for; null once the system has refused one, after
    // which no more records come.
    platform::ChangeRequest* Outstanding() const { return m_refused ? nullptr : &m_request; }
    bool Refused() const { return m_refused; }
    // The system's error code for the refusal.
    uint32_t Refusal() const { return m_refusal; }

    bool HasPending() const { return !m_pending.Empty(); }
    std::size_t PendingCount() const { return m_pending.Size(); }
    PendingChange Pop() { return m_pending.Pop(); }
    // What Pop would give; only while some are pending.
    const PendingChange& Next() const { return m_pending.Next(); }

    // The lost time still to be recovered, and room for what a pass finds:
    // a pass begins only while at least half the queue is free, so that it
    // can hand back a good part of what it finds.
    LossWindows& Losses() { return m_losses; }
    const LossWindows& Losses() const { return m_losses; }
    std::size_t FreeBytes() const { return m_pending.FreeBytes(); }
    bool RoomForRecovery() const { return m_pending.FreeBytes() >= m_pending.Limit() / 2; }
    // What a pass need not hand back: the names taken in since the window
    // began, from records or by an earlier pass.
    const TakenNames& Taken() const { return m_taken; }

    // A folder arrived: what lies below it is to be listed. False when the
    // folders that wait hold all they may (a quarter of the queue's bound).
    // `caughtUp`: the folder was, and so is what lies below it.
    bool FolderArrived(const std::u16string& name, Arrival arrival, platform::FileTime since, bool caughtUp);
    NewFolders& Folders() { return m_folders; }
    const NewFolders& Folders() const { return m_folders; }

    // After a pass has listed the whole tree, or a new folder: the names it
    // found that were not taken in since they changed join the queue, and
    // the window, or the folder, moves on past them. Only when they all fit, or the queue is empty (then as
    // many as it holds, at least one, or a tiny bound would stall): false,
    // taking nothing, while the queue has too little room; the pass waits.
    bool TakeRecovered(const RecoveryPass& pass);

    // A wall time before which every change the system reported, or lost,
    // has been taken in and has left the intake: no name it still holds,
    // no folder that waits for its listing and no lost time still to be
    // listed for began before it.
    platform::FileTime HeldSince() const;
    // The wall time at which the last request whose records were all taken
    // in was issued.
    platform::FileTime RecordsUpTo() const { return m_lastGoodIssue.wall; }

private:
    bool Issue();
    void TakeIn();
    ClockMark ReadClocks();
    void ForgetTaken();

    platform::ChangeRequest& m_request;
    WatchStats& m_stats;
    ChangedName m_changed;
    PendingChanges m_pending;
    TakenNames m_taken;
    LossWindows m_losses;
    NewFolders m_folders;
    ClockMark m_issuedAt;
    ClockMark m_lastGoodIssue;
    ClockMark m_lastReading;
    bool m_outstanding = false;
    bool m_lostSinceIssue = false;
    bool m_refused = false;
    bool m_catchingUp = false; // the lost time is the catch-up's, or holds it
    uint32_t m_refusal = 0;
};
