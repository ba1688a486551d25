// Forced overflow: a watcher on C:\ProgramData whose change buffer is too
// small for the burst that follows, so the system loses records and the
// watcher must find the files by listing its tree. The tree also holds
// older entries, so the listing has real work to do.
// usage: overflow_bench.exe <new files> <eligible every> <old entries> <buffer bytes>
// Prints the watcher's counters; the stub scanner's log says what was
// scanned. Needs clamdscan.exe on the search path.
#include <windows.h>
#include <wx/init.h>
#include <wx/thread.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/BenchWatcher.h"
#include "platform/Clock.h"
#include "platform/DirectoryChanges.h"
#include "watch/WatchLimits.h"

namespace {

const std::wstring& kRoot = kBenchRoot;

void MakeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int every = argc > 2 ? std::atoi(argv[2]) : 50;
    const int oldEntries = argc > 3 ? std::atoi(argv[3]) : 20000;
    const std::size_t bufferBytes = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 256;
    wxInitialize();

    // Old entries, made before the watch begins: listed, never offered.
    const std::wstring oldTree = kRoot + L"\\overflow-old";
    CreateDirectoryW(oldTree.c_str(), nullptr);
    for (int i = 0; i < oldEntries; ++i) {
        const std::wstring folder = oldTree + L"\\d" + std::to_wstring(i / 500);
        if (i % 500 == 0)
            CreateDirectoryW(folder.c_str(), nullptr);
        MakeFile(folder + L"\\old" + std::to_wstring(i) + L".exe");
    }
    Sleep(1500); // older than any recovery window by more than its slack

    uint32_t openError = 0;
    platform::DirHandle directory = platform::OpenWatchedDirectory(kRoot, openError);
    platform::ChangeRequest* request = platform::CreateChangeRequest(directory, bufferBytes);
    if (directory == platform::InvalidDirHandle() || !request) {
        std::fprintf(stderr, "cannot watch %ls\n", kRoot.c_str());
        return 1;
    }
    WatcherState state;
    state.gate.HoldForNewWatcher();
    BenchWatcher watcher(*request, state);
    watcher.Create();
    watcher.Run();
    Sleep(300);

    const std::wstring folder = kRoot + L"\\overflow";
    CreateDirectoryW(folder.c_str(), nullptr);
    Sleep(300);
    const uint64_t startMs = platform::MonotonicMilliseconds();
    for (int i = 0; i < files; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"\\f%06d.%ls", i, i % every == every - 1 ? L"exe" : L"tmp");
        MakeFile(folder + name);
    }
    const uint64_t madeMs = platform::MonotonicMilliseconds() - startMs;

    // Until the watcher, its scans included, has been quiet for two seconds.
    uint64_t last = 0;
    for (int quiet = 0; quiet < 20;) {
        Sleep(100);
        const uint64_t now = state.stats.batches + state.stats.losses + state.stats.recovered +
                             state.stats.recoveryPasses + state.stats.recoveryListed + state.stats.scanCalls;
        quiet = now == last ? quiet + 1 : 0;
        last = now;
    }
    state.gate.CloseForStop();
    watcher.Kill();
    platform::CloseDirectory(directory);

    std::printf("made %d new files (%d eligible) in %llu ms; tree also holds %d old entries\n",
                files, files / every, static_cast<unsigned long long>(madeMs), oldEntries);
    std::printf("change buffer %zu bytes: %llu batches taken in, %llu lost by the system\n",
                bufferBytes, static_cast<unsigned long long>(state.stats.batches.load()),
                static_cast<unsigned long long>(state.stats.losses.load()));
    std::printf("recovery: %llu names found that the records missed; %llu passes listed %llu "
                "entries in %llu ms (%.0f entries/s)\n",
                static_cast<unsigned long long>(state.stats.recovered.load()),
                static_cast<unsigned long long>(state.stats.recoveryPasses.load()),
                static_cast<unsigned long long>(state.stats.recoveryListed.load()),
                static_cast<unsigned long long>(state.stats.recoveryMilliseconds.load()),
                state.stats.recoveryMilliseconds
                    ? 1000.0 * state.stats.recoveryListed / state.stats.recoveryMilliseconds
                    : 0.0);
    std::fflush(stdout);
    // The killed watcher's thread is gone; nothing else to tidy.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
