#include "watch/KillGate.h"

#include "watch/Invariant.h"

void KillGate::HoldForNewWatcher()
{
    m_semaphore.Wait();
}

void KillGate::ReleaseUnstartedWatcher()
{
    m_semaphore.Post();
}

void KillGate::Park()
{
    PELMON_INVARIANT(!m_parked.load());
    m_parked = true;
    m_semaphore.Post();
}

void KillGate::Unpark()
{
    m_semaphore.Wait();
    PELMON_INVARIANT(m_parked.load());
    m_parked = false;
}

void KillGate::MarkFinished()
{
    PELMON_INVARIANT(!m_parked.load()); // the gate is held, not lent to a wait
    m_finished = true;
    m_semaphore.Post();
}

bool KillGate::CloseForStop()
{
    m_stopRequested = true;
    m_semaphore.Wait();
    return m_finished;
}

void KillGate::ReopenAfterStop()
{
    m_finished = false;
    m_parked = false; // a watcher killed in its wait never unparked
    m_stopRequested = false;
    m_semaphore.Post();
}
