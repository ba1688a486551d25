// Scans per second of the monitor's scan dispatch, against a bare
// CreateProcess-and-wait loop and against system(), with the same scanner.
// usage: dispatch_bench.exe [iterations]   (clamdscan.exe on the search path)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/WatcherWait.h"
#include "watch/scan/ScanCommand.h"
#include "watch/scan/ScanDispatch.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <typename Body> double ScansPerSecond(int iterations, Body body)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < iterations; ++i)
        body(i);
    QueryPerformanceCounter(&end);
    return iterations / Seconds(start, end);
}

} // namespace

int main(int argc, char** argv)
{
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 50;
    const std::u16string candidate = u"alice\\Downloads\\setup.exe";
    const std::wstring wide =
        BuildScanCommand(L"C:\\ProgramData\\Pelorin\\Vault", {L"C:\\users\\alice\\Downloads\\setup.exe"});
    const std::string narrow(wide.begin(), wide.end()); // all ASCII

    char found[MAX_PATH];
    if (!SearchPathA(nullptr, "clamdscan.exe", nullptr, MAX_PATH, found, nullptr)) {
        std::fprintf(stderr, "clamdscan.exe not found on the search path\n");
        return 1;
    }

    // Started and waited for as a watcher does, with its combined wait.
    const double dispatch = ScansPerSecond(iterations, [&](int) {
        std::wstring target;
        PrepareScanTarget(L"C:\\users", candidate, target);
        if (const platform::ProcessHandle scanner = StartScanCall(L"C:\\ProgramData", {target}).process) {
            platform::WaitForWork(nullptr, scanner, nullptr, platform::kWaitForever);
            platform::CloseProcess(scanner);
        }
    });

    const double bare = ScansPerSecond(iterations, [&](int) {
        std::string line = narrow;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(found, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &info)) {
            WaitForSingleObject(info.hProcess, INFINITE);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    });

    const double viaSystem = ScansPerSecond(iterations, [&](int) { std::system(narrow.c_str()); });

    std::printf("iterations per method: %d\n", iterations);
    std::printf("StartScan + wait         %7.1f scans/s  %6.1f ms/scan\n", dispatch, 1000 / dispatch);
    std::printf("bare CreateProcess+wait  %7.1f scans/s  %6.1f ms/scan\n", bare, 1000 / bare);
    std::printf("system()                 %7.1f scans/s  %6.1f ms/scan\n", viaSystem, 1000 / viaSystem);
    std::printf("ratio StartScan / bare        %.2f\n", dispatch / bare);
    std::printf("ratio StartScan / system()    %.2f\n", dispatch / viaSystem);
    return 0;
}
