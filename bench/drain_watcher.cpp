// Reference for the burst benchmark: watches a tree the way the monitor's
// watchers do (64 KiB buffer, subtree, same filter) but only drains the
// records, appending "<ms> <name>" for every added entry to a file.
// usage: drain_watcher.exe <root> <output file>
#include <windows.h>

#include <string>

namespace {

unsigned long long NowMs()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return t / 10000ULL - 11644473600000ULL;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    HANDLE dir = CreateFileW(argv[1], GENERIC_READ | FILE_LIST_DIRECTORY,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    HANDLE out = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (dir == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE)
        return 1;
    static DWORD buffer[65536 / sizeof(DWORD)];
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        DWORD bytes = 0;
        if (!ReadDirectoryChangesW(dir, buffer, sizeof(buffer), TRUE, 0x2B, &bytes, &overlapped, nullptr))
            return 1;
        WaitForSingleObject(overlapped.hEvent, INFINITE);
        if (!GetOverlappedResult(dir, &overlapped, &bytes, FALSE) || bytes == 0)
            continue;
        std::string lines;
        const unsigned long long now = NowMs();
        for (auto* p = reinterpret_cast<unsigned char*>(buffer);;) {
            auto* record = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(p);
            if (record->Action == FILE_ACTION_ADDED) {
                char name[4096];
                const int n = WideCharToMultiByte(CP_UTF8, 0, record->FileName,
                                                  record->FileNameLength / 2, name, sizeof(name),
                                                  nullptr, nullptr);
                lines += std::to_string(now) + " " + std::string(name, n > 0 ? n : 0) + "\n";
            }
            if (!record->NextEntryOffset)
                break;
            p += record->NextEntryOffset;
        }
        DWORD written;
        WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    }
}
