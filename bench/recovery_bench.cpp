// Recovery under load, with the watch loop in this process so that its
// counters can be read.
// usage: recovery_bench.exe flood <buffer bytes> <finish flag>
//          Watches C:\ProgramData with the product's bounds and the given
//          change buffer, printing "activity <n>" every second (n grows
//          while the watcher takes in, lists or recovers), until the flag
//          file exists; then prints its counters, this process's CPU time
//          and its peak memory. The files come from outside
//          (bench/recovery_bench.sh).
//        recovery_bench.exe stop <trials> <entries listed first>
//          Each trial starts a watcher whose change buffer is too small, makes
//          it lose records, waits until its listing has looked at that many
//          entries, asks for a stop at a random moment up to 0.8 s later and
//          times it: until the watcher is parked, and until its thread has
//          ended after the kill. Trials in which the listing ended before the
//          watcher parked are made again.
// Needs clamdscan.exe on the search path.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <wx/init.h>
#include <wx/thread.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchWatcher.h"
#include "platform/Clock.h"
#include "platform/DirectoryChanges.h"
#include "platform/ThreadStop.h"
#include "watch/WatchLimits.h"

namespace {

const std::wstring& kRoot = kBenchRoot;

// A running watcher on the root. Never freed: a killed watcher's request
// may still be written into, as in the monitor.
struct Running {
    platform::DirHandle directory;
    WatcherState* state;
    BenchWatcher* watcher;
};

bool StartWatching(std::size_t bufferBytes, Running& running)
{
    uint32_t openError = 0;
    running.directory = platform::OpenWatchedDirectory(kRoot, openError);
    if (running.directory == platform::InvalidDirHandle())
        return false;
    platform::ChangeRequest* request = platform::CreateChangeRequest(running.directory, bufferBytes);
    if (!request)
        return false;
    running.state = new WatcherState;
    running.state->gate.HoldForNewWatcher();
    running.watcher = new BenchWatcher(*request, *running.state);
    running.watcher->Create();
    running.watcher->Run();
    return true;
}

uint64_t ActivityOf(const WatchStats& stats)
{
    return stats.batches + stats.losses + stats.recovered + stats.recoveryPasses + stats.recoveryListed;
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

int Flood(std::size_t bufferBytes, const std::wstring& finishFlag)
{
    Running running{};
    if (!StartWatching(bufferBytes, running)) {
        std::fprintf(stderr, "cannot watch %ls\n", kRoot.c_str());
        return 1;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    const WatchStats& stats = running.state->stats;
    while (GetFileAttributesW(finishFlag.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Sleep(1000);
        std::printf("activity %llu\n", static_cast<unsigned long long>(ActivityOf(stats)));
        std::fflush(stdout);
    }
    std::printf("change buffer %zu bytes: %llu batches taken in, %llu losses\n", bufferBytes,
                static_cast<unsigned long long>(stats.batches.load()),
                static_cast<unsigned long long>(stats.losses.load()));
    std::printf("listings %llu, entries listed %llu in %llu ms, names recovered %llu, "
                "peak pending %llu KiB, taken names forgotten early %llu\n",
                static_cast<unsigned long long>(stats.recoveryPasses.load()),
                static_cast<unsigned long long>(stats.recoveryListed.load()),
                static_cast<unsigned long long>(stats.recoveryMilliseconds.load()),
                static_cast<unsigned long long>(stats.recovered.load()),
                static_cast<unsigned long long>(stats.peakPendingBytes.load() / 1024),
                static_cast<unsigned long long>(stats.takenForgotten.load()));
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("cpu seconds of this process: %.1f; peak working set %.1f MiB\n", CpuSeconds(),
                memory.PeakWorkingSetSize / 1048576.0);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

void MakeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

int Stop(int trials, uint64_t listedFirst)
{
    std::mt19937 random(42);
    std::vector<uint64_t> parked, ended;
    int redone = 0;
    for (int trial = 0; static_cast<int>(parked.size()) < trials; ++trial) {
        if (redone > 3 * trials) {
            std::fprintf(stderr, "the listing keeps ending before the stop\n");
            return 1;
        }
        Running running{};
        if (!StartWatching(256, running)) {
            std::fprintf(stderr, "cannot watch %ls\n", kRoot.c_str());
            return 1;
        }
        Sleep(300);
        // More records than 256 bytes hold: the system loses them.
        const std::wstring trigger = kRoot + L"\\stop-trigger-" + std::to_wstring(trial);
        CreateDirectoryW(trigger.c_str(), nullptr);
        for (int i = 0; i < 50; ++i)
            MakeFile(trigger + L"\\t" + std::to_wstring(i) + L".tmp");
        const WatchStats& stats = running.state->stats;
        const uint64_t waitStart = platform::MonotonicMilliseconds();
        while (stats.recoveryListed < listedFirst && platform::MonotonicMilliseconds() - waitStart < 60000)
            Sleep(1);
        Sleep(std::uniform_int_distribution<int>(0, 800)(random));
        const bool listing = stats.recoveryListed >= listedFirst && stats.recoveryPasses == 0;
        const uint64_t asked = platform::MonotonicMilliseconds();
        running.state->gate.CloseForStop();
        const uint64_t parkedAt = platform::MonotonicMilliseconds();
        // Still listing once parked: the stop came inside the listing.
        const bool valid = listing && stats.recoveryPasses == 0;
        const platform::ThreadEnd end = platform::PrepareToAwaitEnd(*running.watcher);
        running.watcher->Kill();
        platform::AwaitThreadEnd(end, *running.watcher, 1000);
        const uint64_t endedAt = platform::MonotonicMilliseconds();
        platform::CloseDirectory(running.directory);
        if (!valid) {
            ++redone;
            continue;
        }
        parked.push_back(parkedAt - asked);
        ended.push_back(endedAt - asked);
        std::printf("trial %2zu: parked after %llu ms, thread ended after %llu ms (%llu entries listed)\n",
                    parked.size(), static_cast<unsigned long long>(parked.back()),
                    static_cast<unsigned long long>(ended.back()),
                    static_cast<unsigned long long>(stats.recoveryListed.load()));
        std::fflush(stdout);
    }
    const auto under = std::count_if(ended.begin(), ended.end(), [](uint64_t ms) { return ms < 200; });
    std::printf("stop inside the listing: %lld of %d trials under 200 ms; slowest %llu ms to park, %llu ms "
                "to end (%d trials made again: the listing had ended first)\n",
                static_cast<long long>(under), trials,
                static_cast<unsigned long long>(*std::max_element(parked.begin(), parked.end())),
                static_cast<unsigned long long>(*std::max_element(ended.begin(), ended.end())), redone);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    wxInitialize();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flood" && argc > 3) {
        const std::string flag = argv[3];
        return Flood(std::strtoul(argv[2], nullptr, 10), std::wstring(flag.begin(), flag.end()));
    }
    if (mode == "stop" && argc > 3)
        return Stop(std::atoi(argv[2]), std::strtoull(argv[3], nullptr, 10));
    std::fprintf(stderr, "usage: recovery_bench.exe flood <buffer bytes> <finish flag>\n"
                         "       recovery_bench.exe stop <trials> <entries listed first>\n");
    return 2;
}
