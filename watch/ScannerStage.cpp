#include "watch/ScannerStage.h"

#include <utility>

#include "log/LogEntry.h"
#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "product/ProductLayout.h"
#include "watch/Invariant.h"
#include "watch/ScanDispatch.h"

namespace {

constexpr uint32_t kClean = 0;
constexpr uint32_t kFound = 1;

std::wstring ExitStatusText(uint32_t code)
{
    if (code <= 0xFF)
        return L"exit status " + std::to_wstring(code);
    wchar_t hex[16];
    std::swprintf(hex, 16, L"0x%08X", code);
    return std::wstring(L"exit status ") + hex;
}

} // namespace

void ScannerStage::Submit(const std::u16string& name, const wxString& candidate, uint64_t nowMs)
{
    PELMON_INVARIANT(Idle());
    WaitingFiles::File file{name, candidate};
    if (m_waiting.Empty()) {
        Start(std::move(file), false, nowMs);
        return;
    }
    if (!m_waiting.Queue(file))
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: too many files wait for clamdscan; \"%s\" is not kept to be "
                      L"tried again.",
                      FullPathOf(m_watchRoot, file.candidate).c_str());
}

bool ScannerStage::StartDueRetry(uint64_t nowMs)
{
    PELMON_INVARIANT(Idle());
    WaitingFiles::File file;
    while (m_waiting.TakeDue(nowMs, file)) {
        // A waiting file that is gone is dropped; its new name, if any,
        // came with its own record.
        if (platform::QueryArrivalState(m_watchRoot, file.name) == platform::ArrivalState::Missing)
            continue;
        Start(std::move(file), true, nowMs);
        return true;
    }
    return false;
}

void ScannerStage::Start(WaitingFiles::File file, bool isRetry, uint64_t nowMs)
{
    m_current = std::move(file);
    m_currentIsRetry = isRetry;
    const ScanStart start = StartScan(m_programDataPath, m_watchRoot, m_current.candidate);
    if (start.unscannable)
        return; // reported; no later try would find a path either
    m_running = start.process;
    if (!m_running)
        NotScanned(L"clamdscan could not be started", nowMs);
}

void ScannerStage::Poll(uint64_t nowMs, std::size_t queuedElsewhere)
{
    if (!m_running || !platform::ProcessExited(m_running))
        return;
    uint32_t code = 0;
    const bool known = platform::ProcessExitCode(m_running, code);
    platform::CloseProcess(m_running);
    m_running = nullptr;
    if (known && (code == kClean || code == kFound))
        Scanned(code, nowMs, queuedElsewhere);
    else
        NotScanned(known ? L"clamdscan failed with " + ExitStatusText(code)
                         : std::wstring(L"clamdscan ended without an exit status"),
                   nowMs);
}

void ScannerStage::Scanned(uint32_t code, uint64_t nowMs, std::size_t queuedElsewhere)
{
    const std::wstring path = FullPathOf(m_watchRoot, m_current.candidate);
    if (code == kFound)
        WriteLogEntry(kSuccessScanLogs,
                      L"PELMON: %s: clamdscan found a threat in \"%s\" and moved it to the "
                      L"quarantine folder \"%s\".",
                      FormatUtcTime(platform::CurrentFileTime()).c_str(), path.c_str(),
                      VaultFolderOf(m_programDataPath).c_str());
    if (m_waiting.Failing()) {
        const uint64_t waitedSeconds = (nowMs - m_waiting.FailingSinceMs()) / 1000;
        const std::size_t waited = m_waiting.Size() + (m_currentIsRetry ? 1 : 0) + queuedElsewhere;
        WriteLogEntry(kErrorFunctionLogs,
                      L"PELMON: clamdscan scans again after %s s; the %s new files that waited "
                      L"are scanned now.",
                      std::to_wstring(waitedSeconds).c_str(), std::to_wstring(waited).c_str());
        m_waiting.Succeeded();
    }
}

void ScannerStage::NotScanned(const std::wstring& how, uint64_t nowMs)
{
    // The scanner's own short-lived files, and files deleted meanwhile, fail
    // because they are gone: nothing to scan, and no sign of an outage.
    if (platform::QueryArrivalState(m_watchRoot, m_current.name) == platform::ArrivalState::Missing)
        return;
    const std::wstring path = FullPathOf(m_watchRoot, m_current.candidate);
    if (!m_waiting.Failing())
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: %s for \"%s\"; new files wait and are tried again while it "
                      L"fails.",
                      how.c_str(), path.c_str());
    if (!m_waiting.Failed(std::move(m_current), m_currentIsRetry, nowMs))
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: too many files wait for clamdscan; \"%s\" is not kept to be "
                      L"tried again.",
                      path.c_str());
}
