#include <unistd.h>

#include <cstdlib>

#include "platform/ScannerProcess.h"
#include "tests/doubles/FakePlatform.h"

namespace {

int scanPipe[2] = {-1, -1};
int processToken;

} // namespace

namespace platform {

ProcessHandle StartScanner(const std::string& commandLine)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.scannerFound)
        return nullptr;
    p.scans.push_back(commandLine);
    ++p.runningScans;
    p.changed.notify_all();
    return &processToken;
}

void WaitForProcessExit(ProcessHandle)
{
    bool hold;
    {
        fake::Platform& p = fake::State();
        std::lock_guard<std::mutex> lock(p.mutex);
        hold = p.holdScans;
    }
    if (hold) {
        char token;
        [[maybe_unused]] const ssize_t got = ::read(scanPipe[0], &token, 1);
    }
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    --p.runningScans;
    p.changed.notify_all();
}

void CloseProcess(ProcessHandle) {}

} // namespace platform

namespace fake {

void ReleaseScans()
{
    const char token = 1;
    [[maybe_unused]] const ssize_t put = ::write(scanPipe[1], &token, 1);
}

void ResetScanner()
{
    if (scanPipe[0] < 0 && ::pipe(scanPipe) != 0)
        std::abort();
}

} // namespace fake
