// The cost of the monitored-folder list test for one candidate, with a list
// of one line and one of 200,000 lines, both named nowhere in the
// candidates: as main read it (path, existence, the whole file read,
// decoded and every line tried, at every candidate) and as it is now
// (kept between candidates, read again only when it may have changed).
// Writes C:\ProgramData\Pelorin\db\db6 and leaves it holding "Downloads".
// usage: list_bench.exe [lines of the long list, default 200000]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log/AppDataFolder.h"
#include "platform/FileAccess.h"
#include "product/ProductLayout.h"
#include "watch/names/ListFileText.h"
#include "watch/names/ScanFilters.h"

namespace {

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// What main did for every candidate of the profiles tree.
bool TestAsMainDid(std::u16string_view candidate)
{
    const std::wstring path = ProductFileOf(GetAppDataFolderPath(), kMonitoredFolderListName);
    if (platform::QueryPathKind(path) != platform::PathKind::File)
        return false;
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes))
        return false;
    return AnyLineOccursIn(candidate, DecodeListFileLines(bytes));
}

// Writes the list and, unless `fresh`, dates its last write an hour back,
// as a list that has not changed for a while.
bool WriteList(const std::wstring& path, const std::string& bytes, bool fresh)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD put = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
    if (!fresh) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart -= 3600ull * 10000000;
        const FILETIME old{t.LowPart, t.HighPart};
        ok = ok && SetFileTime(file, nullptr, nullptr, &old);
    }
    CloseHandle(file);
    return ok;
}

std::vector<std::u16string> Candidates(int count)
{
    std::vector<std::u16string> out;
    for (int i = 0; i < count; ++i) {
        const std::string name = "alice\\AppData\\Local\\Cache\\entry" + std::to_string(i) + ".bin";
        out.emplace_back(name.begin(), name.end());
    }
    return out;
}

// Milliseconds per candidate; aborts when a candidate is found listed.
template <typename Test> double PerCandidate(int count, Test test)
{
    const std::vector<std::u16string> candidates = Candidates(count);
    const double start = Now();
    for (const std::u16string& candidate : candidates) {
        if (test(candidate)) {
            std::fprintf(stderr, "a candidate was listed\n");
            std::exit(1);
        }
    }
    return (Now() - start) * 1000 / count;
}

} // namespace

int main(int argc, char** argv)
{
    const int longLines = argc > 1 ? std::atoi(argv[1]) : 200000;
    const std::wstring folder = ProductFileOf(GetAppDataFolderPath(), L"db");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = ProductFileOf(GetAppDataFolderPath(), kMonitoredFolderListName);

    std::string longList;
    for (int i = 0; i < longLines; ++i)
        longList += "Users\\someone\\Folder" + std::to_string(i) + "\r\n";
    const struct {
        const char* name;
        std::string bytes;
        int before;
        int after;
    } lists[] = {{"1 line", "Downloads\r\n", 500, 20000}, {"", longList, 5, 20000}};

    std::printf("%-14s %9s %14s %14s %16s %14s\n", "list", "bytes", "before ms", "after ms",
                "after, 1st ms", "fresh ms");
    for (const auto& list : lists) {
        const std::string name = *list.name ? list.name : std::to_string(longLines) + " lines";
        if (!WriteList(path, list.bytes, false)) {
            std::fprintf(stderr, "cannot write %ls\n", path.c_str());
            return 1;
        }
        const double before = PerCandidate(list.before, TestAsMainDid);
        // Setting the time back moved the change time to now: the stamp is
        // trusted 3 s later.
        Sleep(3500);
        // The first candidate after the change reads the list and indexes it.
        const double first = PerCandidate(1, IsInMonitoredFolderList);
        const double after = PerCandidate(list.after, IsInMonitoredFolderList);
        // Within seconds of its writing a stamp cannot be trusted: the list
        // is read at every candidate (its lines kept while the bytes are the same).
        WriteList(path, list.bytes, true);
        const double fresh = PerCandidate(list.before, IsInMonitoredFolderList);
        std::printf("%-14s %9zu %14.4f %14.4f %16.2f %14.3f\n", name.c_str(), list.bytes.size(), before, after,
                    first, fresh);
    }
    WriteList(path, "Downloads\r\n", false);
    return 0;
}
