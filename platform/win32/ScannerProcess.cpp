#include "platform/ScannerProcess.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/win32/ScannerRunStorage.h"

namespace platform {

namespace {

constexpr int kStartAttempts = 3;

// The command processor looks a bare program name up in the current
// directory first, then along PATH.
bool FindScanner(const std::wstring& program, std::wstring& found)
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
        const DWORD length = SearchPathW(searchPath.c_str(), program.c_str(), nullptr,
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

// A temporary file, inherited by the scanner as its output and deleted once
// both have closed it; null when none can be made. Its name ends in .tmp,
// which no watcher hands to the scanner.
HANDLE CreateOutputFile()
{
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"pel", 0, name) == 0)
        return nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return nullptr;
    }
    return file;
}

} // namespace

ProcessHandle StartScanner(const std::wstring& program, const std::wstring& commandLine)
{
    std::wstring application;
    if (!FindScanner(program, application))
        return nullptr;
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // What the scanner prints is kept, for its verdict on each file; without
    // a file for it, it writes where the monitor writes.
    const HANDLE output = CreateOutputFile();
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info = {};
    // A start can fail for a moment (measured under Wine: one in a few
    // thousand, with ERROR_INTERNAL_ERROR); a file must not go unscanned
    // for that, so it is tried again, at once.
    bool started = false;
    for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt)
        started = CreateProcessW(application.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, nullptr, &startup, &info) != FALSE;
    // Wine starts a Unix program with no process to wait for; the handles
    // it returns then are not valid ones.
    if (!started || !info.hProcess) {
        if (output)
            CloseHandle(output);
        return nullptr;
    }
    CloseHandle(info.hThread);
    auto* run = new ScannerRun;
    run->process = info.hProcess;
    run->output = output;
    return reinterpret_cast<ProcessHandle>(run);
}

bool ScannerOutput(ProcessHandle process, std::size_t limit, std::string& output)
{
    output.clear();
    const HANDLE file = RunOf(process)->output;
    LARGE_INTEGER start = {};
    if (!file || !SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    char chunk[16384];
    while (output.size() < limit) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof(chunk), limit - output.size()));
        if (!ReadFile(file, chunk, want, &got, nullptr))
            return false;
        if (got == 0)
            break;
        output.append(chunk, got);
    }
    return true;
}

bool ProcessExited(ProcessHandle process)
{
    // A handle that cannot be waited on counts as ended, or it would be
    // waited for in vain.
    return WaitForSingleObject(RunOf(process)->process, 0) != WAIT_TIMEOUT;
}

bool ProcessExitCode(ProcessHandle process, uint32_t& code)
{
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(RunOf(process)->process, &exitCode) || exitCode == STILL_ACTIVE)
        return false;
    code = exitCode;
    return true;
}

void EndProcess(ProcessHandle process)
{
    // The exit code is never read: a call ended this way failed.
    TerminateProcess(RunOf(process)->process, ERROR_TIMEOUT);
}

void CloseProcess(ProcessHandle process)
{
    ScannerRun* run = RunOf(process);
    CloseHandle(run->process);
    if (run->output)
        CloseHandle(run->output);
    delete run;
}

} // namespace platform
