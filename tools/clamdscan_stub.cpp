// Stands in for the scanner client in tests: appends one line per call to
// the file named by PELMON_STUB_LOG (default: clamdscan-calls.txt beside the
// executable), "<start ms> <end ms> <size> <command line>", optionally after
// a delay of PELMON_STUB_DELAY_MS (only for command lines that contain
// PELMON_STUB_SLOW, when that is set). The start is also written at once as
// "<start ms> - <size> <command line>" so a test can see a scan that is
// running. <size> is the size in bytes of the file to scan (the last quoted
// argument) when the scan started: "dir" for a folder, "none" when missing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "UnixMilliseconds.h"

namespace {

std::string EnvironmentText(const char* name)
{
    char value[MAX_PATH * 4];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
    return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

std::string LogPath()
{
    const std::string configured = EnvironmentText("PELMON_STUB_LOG");
    if (!configured.empty())
        return configured;
    char buffer[MAX_PATH * 4];
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

std::string TargetSize(const std::string& commandLine)
{
    const std::size_t close = commandLine.find_last_of('"');
    const std::size_t open =
        close == std::string::npos || close == 0 ? close : commandLine.find_last_of('"', close - 1);
    if (close == std::string::npos || close == 0 || open == std::string::npos)
        return "none";
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(commandLine.substr(open + 1, close - open - 1).c_str(),
                              GetFileExInfoStandard, &data))
        return "none";
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return "dir";
    return std::to_string((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

} // namespace

int wmain()
{
    const unsigned long long start = UnixMilliseconds();
    const std::string commandLine = GetCommandLineA();
    const std::string path = LogPath();
    const std::string size = TargetSize(commandLine);
    AppendLine(path, std::to_string(start) + " - " + size + " " + commandLine + "\n");

    const std::string delay = EnvironmentText("PELMON_STUB_DELAY_MS");
    const std::string slow = EnvironmentText("PELMON_STUB_SLOW");
    if (!delay.empty() && (slow.empty() || commandLine.find(slow) != std::string::npos))
        Sleep(static_cast<DWORD>(std::strtoul(delay.c_str(), nullptr, 10)));

    AppendLine(path, std::to_string(start) + " " + std::to_string(UnixMilliseconds()) + " " + size + " " +
                         commandLine + "\n");
    return 0;
}
