#include <unistd.h>

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

void Reset(const std::filesystem::path& scratch)
{
    if (scanPipe[0] < 0 && ::pipe(scanPipe) != 0)
        return;
    ForgetRequests();
    Platform& p = State();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.programDataOk = true;
    p.programData = L"C:\\ProgramData";
    p.profilesOk = true;
    p.profilesRoot = L"C:\\users";
    p.driveRoot = scratch;
    p.programDataLookups = 0;
    p.serviceAnswers = {ServiceAnswer{}};
    p.probes = 0;
    p.openScHandles = 0;
    p.systemMessages.clear();
    p.openableRoots = {p.programData, p.profilesRoot};
    p.openedRoots.clear();
    p.closedDirectories.clear();
    p.refuseRequests = false;
    p.issuedRequests = 0;
    p.parkedWaits = 0;
    p.completedWaits = 0;
    p.failReads = false;
    p.scannerFound = true;
    p.scans.clear();
    p.holdScans = false;
    p.runningScans = 0;
    p.sleeps = 0;
    p.watchdogArmed = false;
    std::filesystem::create_directories(scratch / "ProgramData" / "Pelorin");
    std::filesystem::create_directories(scratch / "users");
}

} // namespace fake
