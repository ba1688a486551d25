// The demo's clamdscan.exe: runs the Unix bridge clamdscan-bridge.sh that
// lies beside it with this program's own arguments, waits for it and exits
// with its exit code. Wine's CreateProcess gives no process handle for a
// Unix program, so without this the monitor could neither wait for the scan
// nor learn its result; the bridge reports through a status file instead.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kScanLimitMs = 10 * 60 * 1000;

// The arguments, each quoted again; a short (8.3) path becomes its long
// form, which the Unix side can map into the prefix. Only a path with a
// "~" can be short: asking for every path costs a listing of each folder
// on the way under Wine, about a millisecond a path, and a call names
// hundreds. The C runtime splits
// the line by the rules the monitor quotes by; not linking shell32 for
// CommandLineToArgvW keeps this process cheap to start under Wine, where a
// scan of a burst starts it many times.
std::wstring ArgumentsOf(int count, wchar_t** arguments)
{
    std::wstring line;
    for (int i = 1; i < count; ++i) {
        std::wstring argument = arguments[i];
        if (argument.compare(0, 2, L"--") != 0 && argument.find(L'~') != std::wstring::npos) {
            static wchar_t longPath[32768];
            const DWORD length = GetLongPathNameW(argument.c_str(), longPath, 32768);
            if (length > 0 && length < 32768)
                argument.assign(longPath, length);
        }
        line += L" \"" + argument + L"\"";
    }
    return line;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring bridge(self, length);
    bridge.erase(bridge.find_last_of(L'\\') + 1);
    bridge += L"clamdscan-bridge.sh";
    std::wstring commandLine = L"\"" + bridge + L"\"" + ArgumentsOf(argc, argv);

    wchar_t folder[MAX_PATH], status[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"pbr", 0, status);
    DeleteFileW(status);
    SetEnvironmentVariableW(L"PELMON_BRIDGE_STATUS", status);

    // The bridge prints clamdscan's verdicts where this program prints: the
    // monitor reads them, file by file.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(bridge.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info))
        return 2;
    if (info.hProcess) {
        // Not a Unix program after all: wait for it the ordinary way.
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }

    const DWORD start = GetTickCount();
    while (GetFileAttributesW(status) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > kScanLimitMs)
            return 2; // the bridge ended without a word
        Sleep(5);
    }
    char code[16] = {};
    DWORD got = 0;
    HANDLE file = CreateFileW(status, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    ReadFile(file, code, sizeof(code) - 1, &got, nullptr);
    CloseHandle(file);
    DeleteFileW(status);
    return got ? std::atoi(code) : 2;
}
