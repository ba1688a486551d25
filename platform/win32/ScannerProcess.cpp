#include "platform/ScannerProcess.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

constexpr int kStartAttempts = 3;

// The command processor looks a bare program name up in the current
// directory first, then along PATH.
bool FindScanner(std::wstring& found)
{
    std::wstring searchPath = L".";
    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (pathLength > 0) {
        std::vector<wchar_t> path(pathLength);
        const DWORD got = GetEnvironmentVariableW(L"PATH", path.data(), pathLength);
        if (got > 0 && got < pathLength) {
            searchPath += L';';
            searchPath.append(path.data(), got);
        }
    }
    std::vector<wchar_t> result(MAX_PATH);
    for (;;) {
        const DWORD length = SearchPathW(searchPath.c_str(), L"clamdscan.exe", nullptr,
                                         static_cast<DWORD>(result.size()), result.data(), nullptr);
        if (length == 0)
            return false;
        if (length < result.size()) {
            found.assign(result.data(), length);
            return true;
        }
        result.resize(length + 1);
    }
}

} // namespace

ProcessHandle StartScanner(const std::wstring& commandLine)
{
    std::wstring application;
    if (!FindScanner(application))
        return nullptr;
    // Handles are inherited as the command processor would pass them, so the
    // scanner writes where the monitor writes.
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // A start can fail for a moment (measured under Wine: one in a few
    // thousand, with ERROR_INTERNAL_ERROR); a file must not go unscanned
    // for that, so it is tried again, at once.
    bool started = false;
    for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt)
        started = CreateProcessW(application.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, nullptr, &startup, &info) != FALSE;
    if (!started)
        return nullptr;
    // Wine starts a Unix program with no process to wait for; the handles
    // it returns then are not valid ones.
    if (!info.hProcess)
        return nullptr;
    CloseHandle(info.hThread);
    return static_cast<ProcessHandle>(info.hProcess);
}

bool ProcessExited(ProcessHandle process)
{
    // A handle that cannot be waited on counts as ended, or it would be
    // waited for in vain.
    return WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
}

bool ProcessExitCode(ProcessHandle process, uint32_t& code)
{
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE)
        return false;
    code = exitCode;
    return true;
}

void EndProcess(ProcessHandle process)
{
    // The exit code is never read: a call ended this way failed.
    TerminateProcess(process, ERROR_TIMEOUT);
}

void CloseProcess(ProcessHandle process)
{
    CloseHandle(process);
}

} // namespace platform
