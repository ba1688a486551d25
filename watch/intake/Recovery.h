#pragma once
#include <cstdint>
#include <string>

#include "platform/DirectoryListing.h"
#include "platform/WatcherWait.h"
#include "watch/intake/RecoveryPass.h"
#include "watch/WatchStats.h"

class ChangeIntake;

// The recovery of a watcher: the pass that lists the tree for lost time or
// below a folder that arrived, and its pacing against the watcher's other
// work. A step is due while names wait once a name has been offered since
// the last one and as long has passed since that step ended as it took; a
// pass for lost time that follows another rests first as long as that one
// listed; time parked for a folder's first read is the pass's own. It reads
// the monotonic clock itself only to time its steps and passes.
class Recovery {
public:
    Recovery(ChangeIntake& intake, std::wstring root, WatchStats& stats);

    bool Active() const { return m_pass.Active(); }

    // Lists the next batch (beginning a pass when one is wanted and the
    // queue has room), or hands a listed pass's result to the intake. False
    // when there was nothing to do, or the system is still reading a folder.
    bool Step();
    // The same while names wait, taking turns with them: only when a step is
    // due at `now`.
    bool StepWhileNamesWait(uint64_t now);
    // A name was offered: the recovery's turn may come again.
    void NameOffered() { m_offeredSinceStep = true; }

    // What the parked watcher waits for on the recovery's behalf: a folder's
    // first read, and the end of a pass's rest.
    struct Wait {
        platform::FolderListing reading = nullptr;
        uint64_t milliseconds = platform::kWaitForever;
    };
    Wait WaitFor(uint64_t now) const;
    // The watcher parked this long waiting for a folder's first read (see
    // WaitFor) with nothing else to do: that time is the listing's. While it
    // worked meanwhile, it was not.
    void ParkedOnFirstRead(uint64_t milliseconds);

private:
    bool BeginPass();

    ChangeIntake& m_intake;
    const std::wstring m_root;
    WatchStats& m_stats;
    RecoveryPass m_pass;
    bool m_offeredSinceStep = true;
    uint64_t m_stepDueAt = 0;
    uint64_t m_passListingMs = 0; // the steps of the running pass together
    uint64_t m_nextPassAt = 0;
};
