#include "watch/ScannerStage.h"

#include "watch/Invariant.h"
#include "watch/ScanDispatch.h"

void ScannerStage::Start(const wxString& candidate)
{
    PELMON_INVARIANT(Idle());
    m_running = StartScan(m_programDataPath, m_watchRoot, candidate);
}

void ScannerStage::Poll()
{
    if (m_running && platform::ProcessExited(m_running)) {
        platform::CloseProcess(m_running);
        m_running = nullptr;
    }
}
