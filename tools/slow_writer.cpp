// Writes files the way a browser or a slow program does, from inside Wine
// (only Wine processes take Windows share locks): each file is created and
// kept open while its content is written in parts, then closed, and, for a
// download, renamed to its final name.
// usage: slow_writer.exe [--parts N] [--interval MS] [--replace] [--log FILE]
//                        SOURCE ITEM...
//   SOURCE  the content to write, a file
//   ITEM    WRITTEN, or WRITTEN>FINAL to rename WRITTEN to FINAL once closed
//           (replacing FINAL when --replace is given)
//   --parts, --interval  how many writes, and the pause between two of them
//   --log   appends "<ms> created <WRITTEN>", "<ms> closed <WRITTEN>" and
//           "<ms> renamed <FINAL>"
// Exits non-zero when a step fails.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "UnixMilliseconds.h"
#include <vector>

namespace {

bool ReadAll(const std::wstring& path, std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return true;
}

void Log(const std::wstring& log, const char* event, const std::wstring& path)
{
    if (log.empty())
        return;
    HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char narrow[4096];
    const int n = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr);
    const std::string line =
        std::to_string(UnixMilliseconds()) + " " + event + " " + (n > 0 ? std::string(narrow) : std::string()) + "\n";
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

int Fail(const char* what, const std::wstring& path)
{
    std::fprintf(stderr, "slow_writer: %s %ls (error %lu)\n", what, path.c_str(), GetLastError());
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int parts = 1;
    DWORD interval = 0;
    bool replace = false;
    std::wstring log;
    int i = 1;
    for (; i < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--replace")
            replace = true;
        else if (i + 1 < argc && option == L"--parts")
            parts = std::max(1, _wtoi(argv[++i]));
        else if (i + 1 < argc && option == L"--interval")
            interval = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (i + 1 < argc && option == L"--log")
            log = argv[++i];
        else
            return Fail("unknown option", option);
    }
    if (argc - i < 2) {
        std::fprintf(stderr, "usage: slow_writer.exe [--parts N] [--interval MS] [--replace] [--log FILE] SOURCE ITEM...\n");
        return 2;
    }
    std::string content;
    if (!ReadAll(argv[i], content))
        return Fail("cannot read", argv[i]);

    for (++i; i < argc; ++i) {
        const std::wstring item = argv[i];
        const std::size_t arrow = item.find(L'>');
        const std::wstring written = item.substr(0, arrow);
        HANDLE file = CreateFileW(written.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return Fail("cannot create", written);
        Log(log, "created", written);
        for (int part = 0; part < parts; ++part) {
            const std::size_t from = content.size() * part / parts;
            const std::size_t to = content.size() * (part + 1) / parts;
            DWORD put = 0;
            if (!WriteFile(file, content.data() + from, static_cast<DWORD>(to - from), &put, nullptr))
                return Fail("cannot write", written);
            FlushFileBuffers(file);
            if (part + 1 < parts)
                Sleep(interval);
        }
        CloseHandle(file);
        Log(log, "closed", written);
        if (arrow != std::wstring::npos) {
            const std::wstring final = item.substr(arrow + 1);
            if (!MoveFileExW(written.c_str(), final.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
                return Fail("cannot rename to", final);
            Log(log, "renamed", final);
        }
    }
    return 0;
}
