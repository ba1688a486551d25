// Writes files the way a browser or a slow program does, from inside Wine
// (only Wine processes take Windows share locks): each file is written in
// parts, then closed, and, for a download, renamed to its final name.
// usage: slow_writer.exe [--parts N] [--interval MS] [--reopen] [--stagger MS]
//                        [--share-nothing] [--hold MS] [--replace] [--log FILE]
//                        SOURCE ITEM...
//   SOURCE  the content to write, a file
//   ITEM    WRITTEN, or WRITTEN>FINAL to rename WRITTEN to FINAL once closed
//           (replacing FINAL when --replace is given)
//   --parts, --interval  how many writes, and the pause between two of them
//   --reopen   each part through an open, a write and a close of its own, as
//              copy tools and download managers that resume do; otherwise
//              the file is kept open from the first part to the last
//   --stagger  each item starts this long after the one before; the parts of
//              items written at the same time interleave
//   --share-nothing  the file is open sharing nothing, as a program that
//           makes a virtual disk or a mail store may keep it: no other
//           process can read it meanwhile
//   --hold  keeps the file open this long (ms) after its last part
//   --log   appends "<ms> created <WRITTEN>", "<ms> closed <WRITTEN>" (after
//           the last part) and "<ms> renamed <FINAL>"
// Unless told otherwise, every open shares reading and deleting, as a
// browser's does. An open that
// fails with a sharing violation is counted and tried again; at the end it
// prints "<opens> opens, <refused> refused with a sharing violation".
// Exits non-zero when a step fails.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "UnixMilliseconds.h"

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
    // Writers log to one file at the same moments, and Wine's appends are
    // not atomic between processes: the log is opened by one writer at a time.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 2000; ++tries)
    {
        file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        Sleep(1);
    }
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

unsigned long opens = 0;
unsigned long refused = 0;
DWORD sharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

// Opens for writing, trying again while another handle refuses the sharing.
HANDLE OpenForWriting(const std::wstring& path, bool create)
{
    for (int tries = 0; tries < 10000; ++tries) {
        HANDLE file = CreateFileW(path.c_str(), create ? GENERIC_WRITE : FILE_APPEND_DATA,
                                  sharing, nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ++opens;
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            return file;
        ++refused;
        Sleep(0);
    }
    return INVALID_HANDLE_VALUE;
}

struct Item {
    std::wstring written;
    std::wstring final; // empty: not renamed
    HANDLE file = INVALID_HANDLE_VALUE;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int parts = 1;
    DWORD interval = 0;
    DWORD stagger = 0;
    DWORD hold = 0;
    bool reopen = false;
    bool replace = false;
    std::wstring log;
    int i = 1;
    for (; i < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--replace")
            replace = true;
        else if (option == L"--reopen")
            reopen = true;
        else if (option == L"--share-nothing")
            sharing = 0;
        else if (i + 1 < argc && option == L"--hold")
            hold = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (i + 1 < argc && option == L"--parts")
            parts = std::max(1, _wtoi(argv[++i]));
        else if (i + 1 < argc && option == L"--interval")
            interval = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (i + 1 < argc && option == L"--stagger")
            stagger = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (i + 1 < argc && option == L"--log")
            log = argv[++i];
        else
            return Fail("unknown option", option);
    }
    if (argc - i < 2) {
        std::fprintf(stderr, "usage: slow_writer.exe [--parts N] [--interval MS] [--reopen] [--stagger MS] "
                             "[--share-nothing] [--hold MS] [--replace] [--log FILE] SOURCE ITEM...\n");
        return 2;
    }
    std::string content;
    if (!ReadAll(argv[i], content))
        return Fail("cannot read", argv[i]);

    std::vector<Item> items;
    for (++i; i < argc; ++i) {
        const std::wstring item = argv[i];
        const std::size_t arrow = item.find(L'>');
        items.push_back({item.substr(0, arrow), arrow == std::wstring::npos ? std::wstring() : item.substr(arrow + 1)});
    }
    // Every part of every item, by when it is due: part by part, item by
    // item where they are due together.
    std::vector<std::tuple<ULONGLONG, int, std::size_t>> schedule;
    for (std::size_t k = 0; k < items.size(); ++k) {
        for (int part = 0; part < parts; ++part)
            schedule.emplace_back(ULONGLONG(k) * stagger + ULONGLONG(part) * interval, part, k);
    }
    std::sort(schedule.begin(), schedule.end());

    const ULONGLONG start = GetTickCount64();
    for (const auto& [due, part, k] : schedule) {
        const ULONGLONG now = GetTickCount64() - start;
        if (due > now)
            Sleep(static_cast<DWORD>(due - now));
        Item& item = items[k];
        if (part == 0 || reopen) {
            item.file = OpenForWriting(item.written, part == 0);
            if (item.file == INVALID_HANDLE_VALUE)
                return Fail(part == 0 ? "cannot create" : "cannot reopen", item.written);
            if (part == 0)
                Log(log, "created", item.written);
        }
        const std::size_t from = content.size() * part / parts;
        const std::size_t to = content.size() * (part + 1) / parts;
        DWORD put = 0;
        if (!WriteFile(item.file, content.data() + from, static_cast<DWORD>(to - from), &put, nullptr))
            return Fail("cannot write", item.written);
        const bool last = part + 1 == parts;
        if (!reopen && !last) {
            FlushFileBuffers(item.file);
            continue;
        }
        if (last && hold > 0) {
            FlushFileBuffers(item.file);
            Sleep(hold);
        }
        CloseHandle(item.file);
        item.file = INVALID_HANDLE_VALUE;
        if (!last)
            continue;
        Log(log, "closed", item.written);
        if (!item.final.empty()) {
            if (!MoveFileExW(item.written.c_str(), item.final.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
                return Fail("cannot rename to", item.final);
            Log(log, "renamed", item.final);
        }
    }
    std::printf("%lu opens, %lu refused with a sharing violation\n", opens, refused);
    return 0;
}
