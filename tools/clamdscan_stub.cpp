// Stands in for the scanner client in tests: appends one line per call to
// the file named by PELMON_STUB_LOG (default: clamdscan-calls.txt beside the
// executable), "<start ms> <end ms> <command line>", optionally after a
// delay of PELMON_STUB_DELAY_MS. The start is also written at once as
// "<start ms> - <command line>" so a test can see a scan that is running.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

unsigned long long NowMs()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return t / 10000ULL - 11644473600000ULL; // Unix epoch, milliseconds
}

std::string LogPath()
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetEnvironmentVariableA("PELMON_STUB_LOG", buffer, sizeof(buffer));
    if (n > 0 && n < sizeof(buffer))
        return buffer;
    const DWORD m = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    std::string path(buffer, m);
    return path.substr(0, path.find_last_of('\\') + 1) + "clamdscan-calls.txt";
}

void AppendLine(const std::string& path, const std::string& line)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

int wmain()
{
    const unsigned long long start = NowMs();
    const std::string commandLine = GetCommandLineA();
    const std::string path = LogPath();
    AppendLine(path, std::to_string(start) + " - " + commandLine + "\n");

    char delay[32];
    const DWORD n = GetEnvironmentVariableA("PELMON_STUB_DELAY_MS", delay, sizeof(delay));
    if (n > 0 && n < sizeof(delay))
        Sleep(static_cast<DWORD>(std::strtoul(delay, nullptr, 10)));

    AppendLine(path, std::to_string(start) + " " + std::to_string(NowMs()) + " " + commandLine + "\n");
    return 0;
}
