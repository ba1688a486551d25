#include "tests/doubles/FakePlatform.h"

namespace fake {

Platform& State()
{
    static Platform platform;
    return platform;
}

void Reset(const std::filesystem::path& scratch)
{
    ResetScanner();
    Platform& p = State();
    std::lock_guard<std::mutex> lock(p.mutex);
    ForgetRequests();
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
    p.parkedWaits = 0;
    p.waits = 0;
    p.takenBatches = 0;
    p.tree.clear();
    p.unreadableFolders.clear();
    p.listings = 0;
    p.listingDelayMicroseconds = 0;
    p.arrivalChecks = 0;
    p.fileTime = 134000000000000000; // late 2025, in 100 ns units since 1601
    p.monotonicMs = 1000000;
    p.failReads = false;
    p.readsRunOutOfMemory = false;
    p.shortPaths.clear();
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
