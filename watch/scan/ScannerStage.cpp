#include "watch/scan/ScannerStage.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "log/LogEntry.h"
#include "platform/Clock.h"
#include "platform/FileAccess.h"
#include "product/ProductLayout.h"
#include "watch/Invariant.h"
#include "platform/CodePage.h"
#include "watch/scan/ScanCommand.h"
#include "watch/scan/ScanDispatch.h"
#include "watch/scan/ScanVerdicts.h"
#include "watch/scan/VaultFolder.h"

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

ScannerStage::ScannerStage(const std::wstring& programDataPath, const std::wstring& watchRoot,
                           const WatchLimits& limits)
    : m_programDataPath(programDataPath),
      m_watchRoot(watchRoot),
      m_limits(limits),
      m_baseChars(BuildScanCommand(VaultFolderOf(programDataPath), {}).size()),
      m_waiting(limits.waitingBytes),
      m_retries(limits.retryBytes)
{
    // Made before the first file needs it; something in its place is
    // reported when the first scan fails for it.
    std::string reason;
    EnsureVaultFolder(m_programDataPath, reason);
}

void ScannerStage::Submit(const std::u16string& name, platform::FileTime since, uint64_t nowMs, Order order)
{
    WaitingFiles::File file{name, since};
    if (m_waiting.Failing()) {
        if (!m_waiting.Queue(file))
            WriteLogEntry(kErrorFunctionLogs,
                          L"In StartScan: too many files wait for clamdscan; \"%s\" is not kept to "
                          L"be tried again.",
                          FullPathOf(m_watchRoot, file.name).c_str());
        return;
    }
    Ready ready{std::move(file), std::wstring(), 0, nowMs};
    ready.behind = order == Order::BehindNewFiles;
    if (!Prepare(ready))
        return; // reported; no later try would find a path either
    m_readyChars += CommandCharsOf(ready.target);
    auto at = m_ready.end();
    while (!ready.behind && at != m_ready.begin() && std::prev(at)->behind)
        --at;
    m_ready.insert(at, std::move(ready));
}

platform::FileTime ScannerStage::OldestSince(platform::FileTime none) const
{
    for (const Ready& ready : m_ready)
        none = std::min(none, ready.file.since);
    const CallKind call = m_kind == CallKind::Ping ? m_failedKind : m_kind;
    if (call != CallKind::FileRetry)
        for (const Ready& ready : m_call)
            none = std::min(none, ready.file.since);
    return m_waiting.OldestSince(none);
}

// The target of the file; one whose verdict could not be read from a
// shared call's output goes alone: a folder (the scanner reports the files
// in it), or a path that could pass for the start of another's line.
bool ScannerStage::Prepare(Ready& ready)
{
    const ScanTargetForm form = PrepareScanTarget(m_watchRoot, ready.file.name, ready.target);
    if (form == ScanTargetForm::None)
        return false;
    ready.byFolder = form == ScanTargetForm::Folder;
    if (ready.byFolder || MustGoAlone(ready.target))
        ready.group = ++m_lastGroup;
    return true;
}

bool ScannerStage::CallDue(uint64_t nowMs) const
{
    return HasReady() && (ReadyFull() || nowMs - m_ready.front().readyAtMs >= kGatherMs);
}

uint64_t ScannerStage::MillisecondsToCallDue(uint64_t nowMs) const
{
    PELMON_INVARIANT(HasReady());
    return CallDue(nowMs) ? 0 : m_ready.front().readyAtMs + kGatherMs - nowMs;
}

void ScannerStage::StartReady(uint64_t nowMs)
{
    PELMON_INVARIANT(Idle() && !m_ready.empty());
    std::vector<Ready> call;
    std::size_t chars = m_baseChars;
    const unsigned group = m_ready.front().group;
    do {
        Ready& next = m_ready.front();
        // A part of a failed call goes as it is, neither joined nor cut.
        if (!call.empty() &&
            (next.group != group || (group == 0 && chars + CommandCharsOf(next.target) > kCommandChars)))
            break;
        chars += CommandCharsOf(next.target);
        m_readyChars -= CommandCharsOf(next.target);
        call.push_back(std::move(next));
        m_ready.pop_front();
    } while (!m_ready.empty());
    // Files handed over by the same folder share its call: it is scanned once.
    if (call.front().byFolder) {
        for (auto it = m_ready.begin(); it != m_ready.end();) {
            if (!it->byFolder || it->target != call.front().target) {
                ++it;
                continue;
            }
            m_readyChars -= CommandCharsOf(it->target);
            call.push_back(std::move(*it));
            it = m_ready.erase(it);
        }
    }
    Start(std::move(call), CallKind::Files, nowMs);
}

uint64_t ScannerStage::MillisecondsToNextRetry(uint64_t nowMs) const
{
    uint64_t next = UINT64_MAX;
    if (!m_waiting.Empty())
        next = m_waiting.MillisecondsToNextTry(nowMs);
    // A file that failed alone is not tried while the scanner is out and
    // another file carries the tries.
    if (!Failing() && !m_retries.Empty())
        next = std::min(next, m_retries.MillisecondsToNextTry(nowMs));
    return next;
}

bool ScannerStage::StartDueRetry(uint64_t nowMs)
{
    PELMON_INVARIANT(Idle());
    WaitingFiles::File file;
    if (m_waiting.Failing()) {
        while (m_waiting.TakeDue(nowMs, file)) {
            // A waiting file that is gone is dropped, and the next one
            // carries the tries; its new name, if any, came with its own
            // record.
            if (platform::QueryArrivalState(m_watchRoot, file.name) == platform::ArrivalState::Missing)
                continue;
            // Nothing can be scanned while the quarantine folder is not one.
            if (VaultOutage()) {
                m_waiting.Failed(std::move(file), true, nowMs);
                return true;
            }
            if (StartPrepared(std::move(file), CallKind::OutageTry, nowMs))
                return true;
        }
        // With none waiting (the last went away, or was taken for a file
        // that fails alone as the daemon came back between its try and the
        // ping), the files that fail alone carry the tries, or the outage
        // would wait on nothing: the first of them scanned ends it.
        if (!m_waiting.Empty())
            return false;
    }
    // Working again: every waiting file is ready, ahead of the files that
    // came after them.
    std::vector<Ready> back;
    while (m_waiting.TakeDue(nowMs, file)) {
        Ready ready{std::move(file), std::wstring(), 0, nowMs};
        if (platform::QueryArrivalState(m_watchRoot, ready.file.name) != platform::ArrivalState::Missing &&
            Prepare(ready))
            back.push_back(std::move(ready));
    }
    if (!back.empty()) {
        for (auto it = back.rbegin(); it != back.rend(); ++it) {
            m_readyChars += CommandCharsOf(it->target);
            m_ready.push_front(std::move(*it));
        }
        return true;
    }
    FileRetries::Retry retry;
    while (m_retries.TakeDue(nowMs, retry)) {
        const std::wstring path = FullPathOf(m_watchRoot, retry.file.name);
        if (platform::QueryArrivalState(m_watchRoot, retry.file.name) == platform::ArrivalState::Missing) {
            WriteLogEntry(kErrorFunctionLogs, L"PELMON: \"%s\" is gone before clamdscan could scan it.",
                          path.c_str());
            continue;
        }
        m_retryTries = retry.tries;
        m_retryIntervalMs = retry.intervalMs;
        if (StartPrepared(std::move(retry.file), CallKind::FileRetry, nowMs))
            return true;
    }
    return false;
}

bool ScannerStage::StartPrepared(WaitingFiles::File file, CallKind kind, uint64_t nowMs)
{
    Ready ready{std::move(file), std::wstring(), 0, nowMs};
    if (!Prepare(ready))
        return false;
    std::vector<Ready> call;
    call.push_back(std::move(ready));
    Start(std::move(call), kind, nowMs);
    return true;
}

void ScannerStage::Start(std::vector<Ready> call, CallKind kind, uint64_t nowMs)
{
    m_call = std::move(call);
    m_kind = kind;
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
    m_running.Reset(start.process);
    m_startedMs = nowMs;
    m_deadlineMs = nowMs + m_limits.callBaseMs + m_limits.callPerFileMs * std::min(targets.size(), kDeadlineFiles);
    if (!m_running)
        NotScanned(L"clamdscan could not be started", true, nowMs);
}

void ScannerStage::Poll(uint64_t nowMs, const std::function<std::size_t()>& queuedElsewhere)
{
    if (!m_running)
        return;
    std::wstring how;
    uint32_t code = 0;
    bool hung = false;
    if (platform::ProcessExited(m_running.Get())) {
        const bool known = platform::ProcessExitCode(m_running.Get(), code);
        if (!known)
            how = L"clamdscan ended without an exit status";
        else if (code != kClean && code != kFound)
            how = L"clamdscan failed with " + ExitStatusText(code);
    } else if (nowMs >= m_deadlineMs) {
        platform::EndProcess(m_running.Get());
        const std::wstring seconds = std::to_wstring((m_deadlineMs - m_startedMs) / 1000);
        how = L"clamdscan did not end within " + seconds + L" s";
        hung = true;
        if (m_kind == CallKind::Ping)
            WriteLogEntry(kErrorFunctionLogs, L"In StartScan: clamdscan --ping did not end within %s s; it was ended.",
                          seconds.c_str());
        else
            WriteLogEntry(kErrorFunctionLogs,
                          L"In StartScan: clamdscan did not end within %s s, the time a call of %s files is given; "
                          L"it was ended, and its files were not scanned.",
                          seconds.c_str(), std::to_wstring(m_call.size()).c_str());
    } else {
        return;
    }
    // A detection in a call of several, or by a folder, is told file by
    // file; so is a failure of a call of several, which names the files it
    // could not read. (m_call holds several files of one folder when they
    // share its call.)
    const bool readPrinted =
        m_kind != CallKind::Ping && !hung && (m_call.size() > 1 || (code == kFound && m_call.front().byFolder)) &&
        (how.empty() ? code == kFound : code != 0);
    const bool printed = readPrinted && platform::ScannerOutput(m_running.Get(), kOutputLimit, m_printed);
    m_running.Reset();
    if (m_kind == CallKind::Ping)
        PingAnswered(how.empty(), nowMs);
    else if (how.empty())
        Scanned(code, printed ? &m_printed : nullptr, nowMs, queuedElsewhere);
    else
        NotScanned(how, hung, nowMs, printed ? &m_printed : nullptr);
}

void ScannerStage::Scanned(uint32_t code, const std::string* printed, uint64_t nowMs,
                           const std::function<std::size_t()>& queuedElsewhere)
{
    m_scannerAnswered = true;
    if (m_kind == CallKind::FileRetry)
        WriteLogEntry(kErrorFunctionLogs, L"PELMON: clamdscan scanned \"%s\" at last, after %s failed tries.",
                      FullPathOf(m_watchRoot, m_call.front().file.name).c_str(),
                      std::to_wstring(m_retryTries).c_str());
    const std::size_t waited = m_waiting.Failing() ? Pending(queuedElsewhere) : 0;
    if (code == kFound)
        Found(printed);
    if (m_waiting.Failing()) {
        const uint64_t waitedSeconds = (nowMs - m_waiting.FailingSinceMs()) / 1000;
        WriteLogEntry(kErrorFunctionLogs,
                      L"PELMON: clamdscan scans again after %s s; the %s new files that waited "
                      L"are scanned now.",
                      std::to_wstring(waitedSeconds).c_str(), std::to_wstring(waited).c_str());
        m_waiting.Succeeded();
    }
    m_call.clear();
}

std::size_t ScannerStage::Pending(const std::function<std::size_t()>& queuedElsewhere) const
{
    return m_waiting.Size() + m_call.size() + m_ready.size() + (queuedElsewhere ? queuedElsewhere() : 0);
}

void ScannerStage::RecordFound(const std::wstring& when, const std::wstring& path)
{
    WriteLogEntry(kSuccessScanLogs,
                  L"PELMON: %s: clamdscan found a threat in \"%s\" and moved it to the quarantine folder \"%s\".",
                  when.c_str(), path.c_str(), VaultFolderOf(m_programDataPath).c_str());
}

// The scanner found something and moved it. A file given alone is what it
// found. Of a call of several, a detection is recorded for each file whose
// own line says so; a file it reported failed, or did not report at all,
// was not scanned and goes again (as a part of a failed call). A folder's
// detections are the files it reported found below it that left their
// place. When what it printed could not be kept, each file goes again
// alone, where its exit status tells.
void ScannerStage::Found(const std::string* printed)
{
    const std::wstring when = FormatUtcTime(platform::CurrentFileTime());
    const Ready& first = m_call.front();
    if (m_call.size() == 1 && !first.byFolder) {
        RecordFound(when, FullPathOf(m_watchRoot, first.file.name));
        return;
    }
    if (!printed && !first.byFolder) {
        std::vector<Ready> again;
        for (Ready& ready : m_call) {
            if (platform::QueryArrivalState(m_watchRoot, ready.file.name) == platform::ArrivalState::Missing)
                RecordFound(when, FullPathOf(m_watchRoot, ready.file.name));
            else
                again.push_back(std::move(ready));
        }
        PutBack(std::move(again), false);
        m_call.clear();
        return;
    }
    std::vector<std::string> targets;
    for (const Ready& ready : m_call) {
        targets.emplace_back();
        platform::WideToAnsiExact(ready.target, targets.back()); // it reached the scanner exactly
    }
    if (first.byFolder) {
        std::size_t recorded = 0;
        for (const std::string& path : printed ? FoundBelow(*printed, targets.front()) : std::vector<std::string>()) {
            // Read back only where the code page's bytes are the characters
            // of the same value; otherwise the folder is recorded.
            std::wstring wide;
            for (char c : path)
                wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
            std::string again;
            if (!platform::WideToAnsiExact(wide, again) || again != path ||
                platform::QueryPathKind(wide) != platform::PathKind::Missing)
                continue; // said of a file that is still there: not a detection
            RecordFound(when, wide);
            ++recorded;
        }
        // Which file it was is not known: the folder is what was found.
        if (recorded == 0)
            RecordFound(when, m_call.size() == 1 ? FullPathOf(m_watchRoot, first.file.name) : first.target);
        return;
    }
    const std::vector<TargetVerdict> verdicts = ReadVerdicts(*printed, targets);
    std::vector<Ready> again;
    for (std::size_t i = 0; i < m_call.size(); ++i) {
        if (verdicts[i] == TargetVerdict::Found)
            RecordFound(when, FullPathOf(m_watchRoot, m_call[i].file.name));
        else if (verdicts[i] != TargetVerdict::Clean)
            again.push_back(std::move(m_call[i]));
    }
    if (!again.empty())
        PutBack(std::move(again), true);
    m_call.clear();
}

// The files of a call go back to the head of the ready files, in their
// order: as one part, or each alone.
void ScannerStage::PutBack(std::vector<Ready> call, bool asOne)
{
    const unsigned shared = ++m_lastGroup;
    for (auto it = call.rbegin(); it != call.rend(); ++it) {
        it->group = asOne ? shared : ++m_lastGroup;
        m_readyChars += CommandCharsOf(it->target);
        m_ready.push_front(std::move(*it));
    }
}

void ScannerStage::NotScanned(const std::wstring& how, bool askDaemon, uint64_t nowMs, const std::string* printed)
{
    m_failedHow = how;
    const bool answeredJustBefore = m_scannerAnswered;
    m_scannerAnswered = false;
    // The scanner's own short-lived files, and files deleted meanwhile, fail
    // because they are gone: nothing to scan, and no sign of an outage. The
    // others of the call go again together.
    const std::size_t before = m_call.size();
    m_call.erase(std::remove_if(m_call.begin(), m_call.end(),
                                [this](const Ready& ready) {
                                    return platform::QueryArrivalState(m_watchRoot, ready.file.name) ==
                                           platform::ArrivalState::Missing;
                                }),
                 m_call.end());
    if (m_call.empty())
        return;
    if (m_kind == CallKind::FileRetry) {
        // Expected of such a file; it says nothing of the scanner.
        FileRetries::Retry retry{std::move(m_call.front().file), m_retryIntervalMs, m_retryTries};
        m_call.clear();
        m_retries.Failed(std::move(retry), nowMs);
        return;
    }
    if (m_call.size() < before && m_kind == CallKind::Files) {
        PutBack(std::move(m_call), true);
        m_call.clear();
        return;
    }
    // clamdscan fails every scan while the quarantine folder is missing.
    std::string reason;
    switch (EnsureVaultFolder(m_programDataPath, reason)) {
    case VaultState::Created:
        if (m_kind == CallKind::OutageTry)
            m_waiting.TryAgainNow(std::move(m_call.front().file), nowMs);
        else
            PutBack(std::move(m_call), true);
        m_call.clear();
        return;
    case VaultState::NotAFolder:
    case VaultState::Unmade:
        VaultOutage();
        Outage(how, nowMs);
        return;
    case VaultState::Ready:
        break;
    }
    m_vaultReported = false;
    // The files the client reported scanned were; the others failed, and
    // as it answered for some, the scanner works: they were at fault.
    if (printed && m_kind == CallKind::Files && m_call.size() > 1 && !askDaemon) {
        std::vector<std::string> targets;
        for (const Ready& ready : m_call) {
            targets.emplace_back();
            platform::WideToAnsiExact(ready.target, targets.back()); // it reached the scanner exactly
        }
        const std::vector<TargetVerdict> verdicts = ReadVerdicts(*printed, targets);
        const auto clean = std::count(verdicts.begin(), verdicts.end(), TargetVerdict::Clean);
        // Taken apart only when it answered for some: a call in which every
        // file failed goes on whole below.
        if (clean > 0) {
            std::vector<Ready> failed;
            for (std::size_t i = 0; i < m_call.size(); ++i) {
                if (verdicts[i] != TargetVerdict::Clean)
                    failed.push_back(std::move(m_call[i]));
            }
            m_scannerAnswered = true;
            m_call = std::move(failed);
            if (m_call.size() == 1) {
                Blame(nowMs);
            } else {
                PutBack(std::move(m_call), true);
                m_call.clear();
            }
            return;
        }
    }
    // A part of a failed call that fails right after a good answer (its
    // other half scanned, or the daemon answered) failed for its files; a
    // scanner that hangs or cannot be started may be out all the same, and
    // any other call may be the first to meet a daemon that just went away.
    const bool part = m_kind == CallKind::Files && m_call.front().group != 0;
    if (answeredJustBefore && part && !askDaemon) {
        Blame(nowMs);
        return;
    }
    // Whether the daemon answers tells a scanner that is out from a file
    // it cannot read; the files wait for the answer.
    m_failedKind = m_kind;
    m_kind = CallKind::Ping;
    m_running.Reset(platform::StartScanner(kScannerProgram, BuildPingCommand()));
    m_startedMs = nowMs;
    m_deadlineMs = nowMs + std::min(m_limits.callBaseMs, kPingDeadlineMs);
    if (!m_running)
        PingAnswered(false, nowMs);
}

void ScannerStage::PingAnswered(bool works, uint64_t nowMs)
{
    m_kind = m_failedKind;
    m_scannerAnswered = works;
    if (works)
        Blame(nowMs);
    else
        Outage(m_failedHow, nowMs);
}

// The scanner works, so the call failed for one of its files: a call of
// several is halved, each half a call of its own, so that the one that
// fails alone is found in a few calls; that one is tried again alone, on
// its own back-off, and never holds up the others.
void ScannerStage::Blame(uint64_t nowMs)
{
    if (m_call.size() > 1) {
        const auto middle = m_call.begin() + static_cast<std::ptrdiff_t>(m_call.size() / 2);
        std::vector<Ready> second(std::make_move_iterator(middle), std::make_move_iterator(m_call.end()));
        m_call.erase(middle, m_call.end());
        PutBack(std::move(second), true);
        PutBack(std::move(m_call), true);
        m_call.clear();
        return;
    }
    WaitingFiles::File file = std::move(m_call.front().file);
    m_call.clear();
    const std::wstring path = FullPathOf(m_watchRoot, file.name);
    if (m_kind == CallKind::OutageTry)
        m_waiting.TryAgainNow(nowMs); // the outage goes on with the next file
    if (m_retries.Add(std::move(file), nowMs))
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: %s for \"%s\", though it scans other files; that file is tried again "
                      L"alone, at intervals that grow to 10 minutes, while it exists.",
                      m_failedHow.c_str(), path.c_str());
    else
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: %s for \"%s\", though it scans other files; too many such files wait, "
                      L"and it is not kept to be tried again.",
                      m_failedHow.c_str(), path.c_str());
}

// The scanner is out: the files wait, and whatever was ready waits behind
// them, so that nothing new is handed over until it works.
void ScannerStage::Outage(const std::wstring& how, uint64_t nowMs)
{
    const bool tried = m_kind == CallKind::OutageTry;
    if (!m_waiting.Failing() && !m_vaultReported)
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: %s for \"%s\"; new files wait and are tried again while it fails.",
                      how.c_str(), FullPathOf(m_watchRoot, m_call.front().file.name).c_str());
    std::vector<WaitingFiles::File> files;
    for (Ready& ready : m_call)
        files.push_back(std::move(ready.file));
    m_call.clear();
    for (Ready& ready : m_ready)
        files.push_back(std::move(ready.file));
    m_ready.clear();
    m_readyChars = 0;
    for (WaitingFiles::File& file : files) {
        const std::wstring path = FullPathOf(m_watchRoot, file.name);
        if (!m_waiting.Failed(std::move(file), tried, nowMs))
            WriteLogEntry(kErrorFunctionLogs,
                          L"In StartScan: too many files wait for clamdscan; \"%s\" is not kept to be "
                          L"tried again.",
                          path.c_str());
    }
}

// True while the quarantine folder cannot be had; reported once until it
// is a folder again.
bool ScannerStage::VaultOutage()
{
    std::string reason;
    const VaultState state = EnsureVaultFolder(m_programDataPath, reason);
    if (state == VaultState::Ready || state == VaultState::Created) {
        m_vaultReported = false;
        return false;
    }
    if (!m_vaultReported)
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: the quarantine folder \"%s\" %S, and clamdscan fails every scan "
                      L"without it; new files wait and are tried again until it is one.",
                      VaultFolderOf(m_programDataPath).c_str(), reason.c_str());
    m_vaultReported = true;
    return true;
}
