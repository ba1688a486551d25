#include "watch/intake/Recovery.h"

#include <utility>

#include "platform/Clock.h"
#include "watch/intake/ChangeIntake.h"

Recovery::Recovery(ChangeIntake& intake, std::wstring root, WatchStats& stats)
    : m_intake(intake), m_root(std::move(root)), m_stats(stats)
{
}

// Lost time first: it may hold anything.
bool Recovery::BeginPass()
{
    if (!m_intake.RoomForRecovery())
        return false;
    if (m_intake.Losses().Pending() && platform::MonotonicMilliseconds() >= m_nextPassAt)
        m_pass.Begin(m_intake.Losses().BeginPass(), m_intake.FreeBytes());
    else if (m_intake.Folders().Pending())
        m_pass.Begin(m_intake.Folders().BeginPass(), m_intake.FreeBytes());
    else
        return false;
    m_passListingMs = 0;
    return true;
}

// A pass that has listed all it lists for hands what it found to the
// intake once the queue has room for it.
bool Recovery::Step()
{
    if (!m_pass.Active() && !BeginPass())
        return false;
    bool stepped = false;
    if (!m_pass.Listed()) {
        const uint64_t started = platform::MonotonicMilliseconds();
        m_pass.Step(m_root, m_intake.Taken());
        const uint64_t ended = platform::MonotonicMilliseconds();
        m_passListingMs += ended - started;
        m_stats.recoveryMilliseconds += ended - started;
        // The system is still reading a folder: the watcher does other work
        // or parks, to be woken when the read has ended.
        if (m_pass.Waiting())
            return false;
        m_stats.recoveryListed += m_pass.ListedByLastStep();
        m_offeredSinceStep = false;
        m_stepDueAt = ended + (ended - started);
        stepped = true;
        if (!m_pass.Listed())
            return true;
    }
    if (!m_intake.TakeRecovered(m_pass))
        return stepped;
    const bool forLoss = !m_pass.ForNewFolder();
    m_pass.End();
    // Losses that go on through a flood would have the tree listed again
    // and again; a pass that follows rests first as long as this one listed,
    // so the listing takes at most half the time even then.
    if (forLoss)
        m_nextPassAt = platform::MonotonicMilliseconds() + m_passListingMs;
    return true;
}

// While names wait, the recovery still goes on, or a flood that keeps the
// queue busy would put it off until the flood ends. So the names get at
// least every other turn and half the time, a scan counting as time, and
// the listing the rest.
bool Recovery::StepWhileNamesWait(uint64_t now)
{
    return m_offeredSinceStep && now >= m_stepDueAt && Step();
}

// A first read wakes the watcher only when it would step on: an ended read
// stays signalled. A pass the queue has no room for is not waited for: the
// names that leave it are offered by other work, which has waits of its
// own, and a wait of nothing would spin.
Recovery::Wait Recovery::WaitFor(uint64_t now) const
{
    Wait wait;
    wait.reading = m_pass.Waiting();
    if (m_intake.Losses().Pending() && !m_pass.Active() && m_intake.RoomForRecovery())
        wait.milliseconds = m_nextPassAt > now ? m_nextPassAt - now : 0;
    return wait;
}

void Recovery::ParkedOnFirstRead(uint64_t milliseconds)
{
    m_passListingMs += milliseconds;
    m_stats.recoveryMilliseconds += milliseconds;
}
