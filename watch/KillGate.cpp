#include "watch/KillGate.h"

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
    m_semaphore.Post();
}

void KillGate::Unpark()
{
    m_semaphore.Wait();
}

void KillGate::MarkFinished()
{
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
    m_stopRequested = false;
    m_semaphore.Post();
}
