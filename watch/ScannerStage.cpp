#include "watch/ScannerStage.h"

#include <algorithm>
#include <iterator>
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

// A target's share of the command line: a blank and two quotes around it
// (escapes are rare enough to leave to the margin below the system's limit).
std::size_t CharsOf(const std::wstring& target)
{
    return target.size() + 3;
}

} // namespace

ScannerStage::ScannerStage(const std::wstring& programDataPath, const std::wstring& watchRoot,
                           std::size_t waitingBytes)
    : m_programDataPath(programDataPath),
      m_watchRoot(watchRoot),
      m_baseChars(BuildScanCommand(VaultFolderOf(programDataPath), {}).size()),
      m_waiting(waitingBytes)
{
}

void ScannerStage::Submit(const std::u16string& name, const wxString& candidate, uint64_t nowMs)
{
    WaitingFiles::File file{name, candidate};
    if (!m_waiting.Empty()) {
        if (!m_waiting.Queue(file))
            WriteLogEntry(kErrorFunctionLogs,
                          L"In StartScan: too many files wait for clamdscan; \"%s\" is not kept to "
                          L"be tried again.",
                          FullPathOf(m_watchRoot, file.candidate).c_str());
        return;
    }
    Ready ready{std::move(file), std::wstring(), false, nowMs};
    if (!PrepareScanTarget(m_watchRoot, ready.file.candidate, ready.target))
        return; // reported; no later try would find a path either
    m_readyChars += CharsOf(ready.target);
    m_ready.push_back(std::move(ready));
}

bool ScannerStage::ReadyFull() const
{
    return m_ready.size() >= kFilesPerCall || m_baseChars + m_readyChars >= kCommandChars;
}

bool ScannerStage::CallDue(uint64_t nowMs) const
{
    return HasReady() && (ReadyFull() || nowMs - m_ready.front().readyAtMs >= kGatherMs);
}

void ScannerStage::StartReady(uint64_t nowMs)
{
    PELMON_INVARIANT(Idle() && !m_ready.empty());
    std::vector<Ready> call;
    std::size_t chars = m_baseChars;
    do {
        Ready& next = m_ready.front();
        if (!call.empty() && (next.alone || call.front().alone || call.size() >= kFilesPerCall ||
                              chars + CharsOf(next.target) > kCommandChars))
            break;
        chars += CharsOf(next.target);
        m_readyChars -= CharsOf(next.target);
        call.push_back(std::move(next));
        m_ready.pop_front();
    } while (!m_ready.empty());
    Start(std::move(call), false, nowMs);
}

bool ScannerStage::StartDueRetry(uint64_t nowMs)
{
    PELMON_INVARIANT(Idle());
    if (!m_waiting.Failing()) {
        // Working again: every waiting file is ready, ahead of the files
        // that came after them.
        std::vector<Ready> back;
        WaitingFiles::File file;
        while (m_waiting.TakeDue(nowMs, file)) {
            Ready ready{std::move(file), std::wstring(), false, nowMs};
            if (platform::QueryArrivalState(m_watchRoot, ready.file.name) != platform::ArrivalState::Missing &&
                PrepareScanTarget(m_watchRoot, ready.file.candidate, ready.target))
                back.push_back(std::move(ready));
        }
        for (auto it = back.rbegin(); it != back.rend(); ++it) {
            m_readyChars += CharsOf(it->target);
            m_ready.push_front(std::move(*it));
        }
        return !back.empty();
    }
    WaitingFiles::File file;
    while (m_waiting.TakeDue(nowMs, file)) {
        // A waiting file that is gone is dropped; its new name, if any,
        // came with its own record.
        if (platform::QueryArrivalState(m_watchRoot, file.name) == platform::ArrivalState::Missing)
            continue;
        Ready ready{std::move(file), std::wstring(), true, nowMs};
        if (!PrepareScanTarget(m_watchRoot, ready.file.candidate, ready.target))
            continue;
        std::vector<Ready> call;
        call.push_back(std::move(ready));
        Start(std::move(call), true, nowMs);
        return true;
    }
    return false;
}

void ScannerStage::Start(std::vector<Ready> call, bool isRetry, uint64_t nowMs)
{
    m_call = std::move(call);
    m_callIsRetry = isRetry;
    std::vector<std::wstring> targets;
    for (const Ready& ready : m_call) {
        // Two files handed over by the same folder: it is scanned once.
        if (std::find(targets.begin(), targets.end(), ready.target) == targets.end())
            targets.push_back(ready.target);
    }
    const ScanStart start = StartScanCall(m_programDataPath, targets);
    if (start.unscannable) {
        m_call.clear(); // reported; no later try would do better
        return;
    }
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
    if (known && code == kFound)
        Found();
    if (known && (code == kClean || code == kFound)) {
        if (!m_call.empty())
            Scanned(nowMs, queuedElsewhere);
        return;
    }
    NotScanned(known ? L"clamdscan failed with " + ExitStatusText(code)
                     : std::wstring(L"clamdscan ended without an exit status"),
               nowMs);
}

// The scanner found something and moved it: each file of the call that left
// its place is recorded. When none did in a call of several, which one it
// was is found by scanning each alone.
void ScannerStage::Found()
{
    const std::wstring when = FormatUtcTime(platform::CurrentFileTime());
    std::size_t recorded = 0;
    for (const Ready& ready : m_call) {
        if (m_call.size() > 1 &&
            platform::QueryArrivalState(m_watchRoot, ready.file.name) != platform::ArrivalState::Missing)
            continue;
        WriteLogEntry(kSuccessScanLogs,
                      L"PELMON: %s: clamdscan found a threat in \"%s\" and moved it to the "
                      L"quarantine folder \"%s\".",
                      when.c_str(), FullPathOf(m_watchRoot, ready.file.candidate).c_str(),
                      VaultFolderOf(m_programDataPath).c_str());
        ++recorded;
    }
    if (recorded == 0)
        Split();
}

void ScannerStage::Scanned(uint64_t nowMs, std::size_t queuedElsewhere)
{
    if (m_waiting.Failing()) {
        const uint64_t waitedSeconds = (nowMs - m_waiting.FailingSinceMs()) / 1000;
        const std::size_t waited = m_waiting.Size() + m_call.size() + m_ready.size() + queuedElsewhere;
        WriteLogEntry(kErrorFunctionLogs,
                      L"PELMON: clamdscan scans again after %s s; the %s new files that waited "
                      L"are scanned now.",
                      std::to_wstring(waitedSeconds).c_str(), std::to_wstring(waited).c_str());
        m_waiting.Succeeded();
    }
    m_call.clear();
}

// Each file of the call goes back to the head of the ready files, in its
// order, to be scanned alone.
void ScannerStage::Split()
{
    for (auto it = m_call.rbegin(); it != m_call.rend(); ++it) {
        it->alone = true;
        m_readyChars += CharsOf(it->target);
        m_ready.push_front(std::move(*it));
    }
    m_call.clear();
}

void ScannerStage::NotScanned(const std::wstring& how, uint64_t nowMs)
{
    if (m_call.size() > 1) {
        Split();
        return;
    }
    Ready failed = std::move(m_call.front());
    m_call.clear();
    // The scanner's own short-lived files, and files deleted meanwhile, fail
    // because they are gone: nothing to scan, and no sign of an outage.
    if (platform::QueryArrivalState(m_watchRoot, failed.file.name) == platform::ArrivalState::Missing)
        return;
    const std::wstring path = FullPathOf(m_watchRoot, failed.file.candidate);
    if (!m_waiting.Failing())
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: %s for \"%s\"; new files wait and are tried again while it "
                      L"fails.",
                      how.c_str(), path.c_str());
    if (!m_waiting.Failed(std::move(failed.file), m_callIsRetry, nowMs))
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: too many files wait for clamdscan; \"%s\" is not kept to be "
                      L"tried again.",
                      path.c_str());
}
