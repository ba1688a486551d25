// Stands in for the scanner client in tests: appends one line per call to
// the file named by PELMON_STUB_LOG (default: clamdscan-calls.txt beside the
// executable), "<start ms> <end ms> <size> <command line>", optionally after
// a delay of PELMON_STUB_DELAY_MS for each file it is given (only for
// command lines that contain PELMON_STUB_SLOW, when that is set). The start
// is also written at once as "<start ms> - <size> <command line>" so a test
// can see a scan that is running. <size> is the size in bytes of each file
// to scan (every argument after --move=, comma-separated) when the scan
// started: "dir" for a folder, "none" when missing; "badargs" when the arguments that a program with a narrow main sees (the
// command line in the ANSI code page) differ from those a Unicode program
// sees, or the target opens only in one of the two views; "nodaemon" when
// a file clamdscan-no-daemon lies beside the executable: the stub then
// answers as clamdscan does when it cannot reach its daemon (exit 2).
// A slow call also runs on while a file clamdscan-hold lies beside it.
// A target that starts with the EICAR test string is moved into the
// --move folder, and the stub exits 1, as clamdscan does for a detection;
// a folder target, each such file in it. Like clamdscan, it exits 2 for a target it cannot open (held by a
// program that shares nothing, missing, or named in PELMON_STUB_UNREADABLE)
// unless it found something, and for every call while the --move folder is
// not a folder; "--ping=N" answers 0, or 21 while the daemon is away.
// Each target's verdict is printed as clamdscan prints it.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

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

std::vector<std::wstring> Split(const std::wstring& line)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> split(arguments, arguments + (arguments ? count : 0));
    LocalFree(arguments);
    return split;
}

std::wstring Wide(const std::string& ansi)
{
    const int count = static_cast<int>(ansi.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), count, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), count, wide.data(), units);
    return wide;
}

std::string Ansi(const std::wstring& wide)
{
    const int count = static_cast<int>(wide.size());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), count, ansi.data(), bytes, nullptr, nullptr);
    return ansi;
}

// The size of each target (every argument after --move=) as the Unicode
// view names it, comma-separated, after checking that the narrow view holds
// the same arguments and opens the same things.
std::string TargetSizes(std::size_t& targets)
{
    const std::vector<std::wstring> wide = Split(GetCommandLineW());
    const std::vector<std::wstring> narrow = Split(Wide(GetCommandLineA()));
    targets = wide.size() > 2 ? wide.size() - 2 : 0;
    if (wide.size() != narrow.size() || wide.size() < 3)
        return "badargs";
    // clamdscan's own way to take more files than a command line holds; the
    // benchmarks time one call over a whole burst with it.
    if (wide.size() == 3 && wide[2].compare(0, 12, L"--file-list=") == 0) {
        targets = 0;
        HANDLE list = CreateFileW(wide[2].substr(12).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        char chunk[65536];
        DWORD got = 0;
        while (list != INVALID_HANDLE_VALUE && ReadFile(list, chunk, sizeof(chunk), &got, nullptr) && got > 0)
            targets += static_cast<std::size_t>(std::count(chunk, chunk + got, '\n'));
        if (list != INVALID_HANDLE_VALUE)
            CloseHandle(list);
        return "list";
    }
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (Ansi(wide[i]) != Ansi(narrow[i]) || Wide(Ansi(wide[i])) != wide[i])
            return "badargs";
    }
    std::string sizes;
    for (std::size_t i = 2; i < wide.size(); ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        const bool found = GetFileAttributesExW(wide[i].c_str(), GetFileExInfoStandard, &data);
        // Narrow file functions stop at MAX_PATH whatever the code page: a
        // longer path says nothing about the conversion.
        WIN32_FILE_ATTRIBUTE_DATA narrowData;
        if (wide[i].size() < MAX_PATH &&
            found != (GetFileAttributesExA(Ansi(narrow[i]).c_str(), GetFileExInfoStandard, &narrowData) != FALSE))
            return "badargs";
        sizes += sizes.empty() ? "" : ",";
        if (!found)
            sizes += "none";
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            sizes += "dir";
        else
            sizes += std::to_string((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    }
    return sizes;
}

std::wstring OwnFolder()
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

enum class Verdict { Clean, Infected, Unreadable };

Verdict ReadVerdict(const std::wstring& path)
{
    static const char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR";
    const std::string unreadable = EnvironmentText("PELMON_STUB_UNREADABLE");
    if (!unreadable.empty() && Ansi(path).find(unreadable) != std::string::npos)
        return Verdict::Unreadable;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Verdict::Unreadable;
    char head[sizeof(kEicar) - 1] = {};
    DWORD got = 0;
    ReadFile(file, head, sizeof(head), &got, nullptr);
    CloseHandle(file);
    return got == sizeof(head) && std::string(head, got) == std::string(kEicar, sizeof(kEicar) - 1)
               ? Verdict::Infected
               : Verdict::Clean;
}

bool StartsWithTestSignature(const std::wstring& path)
{
    return ReadVerdict(path) == Verdict::Infected;
}

// A folder target is scanned as clamdscan scans one: each file in it (one
// level is all the tests need) is looked at and, when infected, moved. By
// the literal path, so that a file named CON.exe is read and moved, not the
// console; so the tests see whether the monitor's folder fallback reaches
// files that no plain path can name.
bool QuarantineInfectedInFolder(const std::wstring& folder, const std::wstring& vault)
{
    const std::wstring literal = L"\\\\?\\" + folder + L"\\";
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((literal + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        const std::wstring file = literal + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !StartsWithTestSignature(file))
            continue;
        found = true;
        CreateDirectoryW(vault.c_str(), nullptr);
        std::wstring target = L"\\\\?\\" + vault + L"\\" + entry.cFileName;
        for (int n = 1; GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
            target = L"\\\\?\\" + vault + L"\\" + entry.cFileName + L"." + std::to_wstring(n);
        MoveFileW(file.c_str(), target.c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// Moves every infected target into the folder of --move=, and answers as
// clamdscan does: 1 when one was found, else 2 when a target could not be
// read, else 0.
int QuarantineInfected()
{
    const std::vector<std::wstring> arguments = Split(GetCommandLineW());
    std::wstring vault;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].compare(0, 7, L"--move=") == 0)
            vault = arguments[i].substr(7);
    }
    const DWORD vaultAttributes = GetFileAttributesW(vault.c_str());
    if (vaultAttributes == INVALID_FILE_ATTRIBUTES || !(vaultAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::printf("ERROR: action_setup: Failed to get realpath of %s\n", Ansi(vault).c_str());
        return 2;
    }
    bool found = false;
    bool failed = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].compare(0, 7, L"--move=") == 0)
            continue;
        const DWORD attributes = GetFileAttributesW(arguments[i].c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            found = QuarantineInfectedInFolder(arguments[i], vault) || found;
            continue;
        }
        const Verdict verdict = ReadVerdict(arguments[i]);
        if (verdict == Verdict::Unreadable) {
            std::printf("%s: Can't open file or directory ERROR\n", Ansi(arguments[i]).c_str());
            failed = true;
            continue;
        }
        if (verdict == Verdict::Clean) {
            std::printf("%s: OK\n", Ansi(arguments[i]).c_str());
            continue;
        }
        std::printf("%s: Eicar-Test-Signature FOUND\n", Ansi(arguments[i]).c_str());
        found = true;
        const std::wstring name = arguments[i].substr(arguments[i].find_last_of(L'\\') + 1);
        std::wstring target = vault + L"\\" + name;
        for (int n = 1; GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
            target = vault + L"\\" + name + L"." + std::to_wstring(n);
        MoveFileW(arguments[i].c_str(), target.c_str());
    }
    return found ? 1 : failed ? 2 : 0;
}

} // namespace

int wmain()
{
    const unsigned long long start = UnixMilliseconds();
    const std::string commandLine = GetCommandLineA();
    if (commandLine.find(" --ping=") != std::string::npos) {
        if (GetFileAttributesW((OwnFolder() + L"clamdscan-no-daemon").c_str()) != INVALID_FILE_ATTRIBUTES) {
            std::printf("PING timeout exceeded; No response from clamd\n");
            return 21;
        }
        std::printf("PONG\n");
        return 0;
    }
    const std::string path = LogPath();
    const bool noDaemon =
        GetFileAttributesW((OwnFolder() + L"clamdscan-no-daemon").c_str()) != INVALID_FILE_ATTRIBUTES;
    std::size_t targets = 1;
    const std::string size = noDaemon ? "nodaemon" : TargetSizes(targets);
    AppendLine(path, std::to_string(start) + " - " + size + " " + commandLine + "\n");

    const std::string delay = EnvironmentText("PELMON_STUB_DELAY_MS");
    const std::string slow = EnvironmentText("PELMON_STUB_SLOW");
    const bool isSlow = slow.empty() || commandLine.find(slow) != std::string::npos;
    if (!delay.empty() && isSlow)
        Sleep(static_cast<DWORD>(std::strtoul(delay.c_str(), nullptr, 10) * std::max<std::size_t>(targets, 1)));
    // A slow call runs on while the file clamdscan-hold lies beside the
    // stub, so that a test decides when it ends (at most ten minutes).
    const std::wstring hold = OwnFolder() + L"clamdscan-hold";
    for (int i = 0; isSlow && i < 30000 && GetFileAttributesW(hold.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(20);

    const int status = noDaemon ? 2 : QuarantineInfected();
    if (noDaemon)
        std::fprintf(stderr, "ERROR: Could not connect to clamd on LocalSocket /run/clamav/clamd.ctl: "
                             "No such file or directory\n");
    AppendLine(path, std::to_string(start) + " " + std::to_string(UnixMilliseconds()) + " " + size + " " +
                         commandLine + "\n");
    return status;
}
