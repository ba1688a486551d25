#pragma once
#include <wx/thread.h>

#include <atomic>

// Makes the forced stop of a watcher safe. Terminating a thread that holds a
// runtime or library lock (heap, stdio, a wxThread's own critical section)
// leaves that lock taken for ever, and the rest of the stop then hangs on it.
// So a watcher holds its gate at all times except while it is parked in one
// of its blocking waits, and the supervisor takes the gate before it kills:
// a watcher is only ever killed while parked.
//
// The gate is a semaphore rather than a lock because it is taken on the
// watcher's behalf before its thread exists, and because a thread killed
// while waiting for a kernel semaphore leaves nothing behind.
class KillGate {
public:
    // Supervisor, just before the thread is started: the watcher holds the
    // gate from its first instruction on.
    void HoldForNewWatcher();
    // Supervisor, when the thread could not be started after all.
    void ReleaseUnstartedWatcher();

    // Watcher, around each blocking wait. Park() must come right before the
    // wait and Unpark() right after it; they are plain calls, never a scope
    // guard, so that nothing re-takes the gate while a killed thread unwinds.
    void Park();
    void Unpark();

    // Watcher, as the very last thing before its Entry returns.
    void MarkFinished();

    // Watcher, between the steps of long work done outside its waits (a
    // recovery listing, a run of candidates): true once the supervisor
    // wants to stop it, so it goes to its wait, where it is stopped, at once.
    bool StopRequested() const { return m_stopRequested.load(); }

    // Supervisor, at stop: takes the gate. Returns true when the watcher's
    // Entry has returned by itself rather than being parked.
    bool CloseForStop();
    // Supervisor, once the watcher's thread is gone: back to the initial
    // state. A thread killed inside Unpark() has left the semaphore intact.
    void ReopenAfterStop();

private:
    wxSemaphore m_semaphore{1, 1};
    bool m_finished = false;
    std::atomic<bool> m_parked{false}; // between Park and Unpark: killable
    std::atomic<bool> m_stopRequested{false};
};
