#include "tests/doubles/FakeState.h"

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
    static_cast<PlatformData&>(p) = PlatformData{};
    p.driveRoot = scratch;
    // The product folder and its quarantine folder, as the installer leaves them.
    std::filesystem::create_directories(scratch / "ProgramData" / "Pelorin" / "Vault");
    std::filesystem::create_directories(scratch / "users");
}

bool WaitUntil(const std::function<bool(const Platform&)>& holds)
{
    Platform& p = State();
    std::unique_lock<std::mutex> lock(p.mutex);
    return p.changed.wait_for(lock, std::chrono::seconds(2), [&] { return holds(p); });
}

void SetServiceAnswers(std::vector<ServiceAnswer> answers) { Set(&Platform::serviceAnswers, answers); }
void SetSystemMessages(std::map<uint32_t, std::string> messages) { Set(&Platform::systemMessages, messages); }
void SetProgramDataFound(bool found) { Set(&Platform::programDataOk, found); }
void SetProfilesRootFound(bool found) { Set(&Platform::profilesOk, found); }
void SetOpenableRoots(std::vector<std::wstring> roots) { Set(&Platform::openableRoots, roots); }
void RefuseChangeRequests() { Set(&Platform::refuseRequests, true); }
void SetListingDelay(unsigned microseconds) { Set(&Platform::listingDelayMicroseconds, microseconds); }
void SetListingBatchMilliseconds(uint64_t milliseconds)
{
    Set(&Platform::listingBatchMilliseconds, milliseconds);
}
void HoldFirstReads(bool held) { Set(&Platform::firstReadsHeld, held); }
void SetListingBatch(std::size_t entries) { Set(&Platform::listingBatchEntries, entries); }
void FailReads() { Set(&Platform::failReads, true); }
void FailReplaces(bool failing) { Set(&Platform::failReplaces, failing); }
int ReplacedFiles() { return Read(&Platform::replacedFiles); }
void RunReadsOutOfMemory() { Set(&Platform::readsRunOutOfMemory, true); }
int FileReads() { return Read(&Platform::fileReads); }
uint64_t BytesRead() { return Read(&Platform::bytesRead); }
void SetScannerFound(bool found) { Set(&Platform::scannerFound, found); }
void SetScanExitCodes(std::vector<uint32_t> codes) { Set(&Platform::scanExitCodes, std::move(codes)); }
void SetUnreadableFiles(std::vector<std::wstring> names) { Set(&Platform::unreadableNames, std::move(names)); }
void SetInfectedFiles(std::vector<std::wstring> names) { Set(&Platform::infectedNames, std::move(names)); }
void SetExtraOutput(std::string text) { Set(&Platform::extraOutput, std::move(text)); }
void SetOutputKept(bool kept) { Set(&Platform::outputKept, kept); }
void SetPingExitCodes(std::vector<uint32_t> codes) { Set(&Platform::pingExitCodes, std::move(codes)); }
int Pings() { return Read(&Platform::pings); }
int EndedScans() { return Read(&Platform::endedScans); }

void SetTreeEntry(const std::wstring& path, const TreeEntry& entry)
{
    Update([&](Platform& p) { p.tree[path] = entry; });
}

void SetTreeEntries(std::map<std::wstring, TreeEntry> entries)
{
    Update([&](Platform& p) {
        entries.merge(p.tree); // the new ones win
        p.tree.swap(entries);
    });
}

void EraseTreeEntry(const std::wstring& path)
{
    Update([&](Platform& p) { p.tree.erase(path); });
}

void ClearTree()
{
    Update([](Platform& p) {
        p.tree.clear();
        p.unreadableFolders.clear();
    });
}

void SetBeingWritten(const std::wstring& path, bool beingWritten)
{
    Update([&](Platform& p) { p.tree[path].openForWriting = beingWritten; });
}

void WriteTo(const std::wstring& path, uint64_t size)
{
    Update([&](Platform& p) {
        p.tree[path].size = size;
        p.tree[path].written = p.fileTime;
    });
}

void SetWritersKnown(bool known) { Set(&Platform::writersKnown, known); }

void SetUnreadable(const std::wstring& folder)
{
    Update([&](Platform& p) { p.unreadableFolders.insert(folder); });
}

void SetShortPath(const std::wstring& longPath, const std::wstring& shortPath)
{
    Update([&](Platform& p) { p.shortPaths[longPath] = shortPath; });
}

void AdvanceClock(uint64_t milliseconds)
{
    Update([&](Platform& p) {
        p.fileTime += milliseconds * kTicksPerMillisecond;
        p.monotonicMs += milliseconds;
    });
}

void StepWallClockBack(uint64_t milliseconds)
{
    Update([&](Platform& p) { p.fileTime -= milliseconds * kTicksPerMillisecond; });
}

uint64_t FileTimeNow() { return Read(&Platform::fileTime); }
uint64_t MillisecondsNow() { return Read(&Platform::monotonicMs); }
int TakenBatches() { return Read(&Platform::takenBatches); }
int ArrivalChecks() { return Read(&Platform::arrivalChecks); }
int Listings() { return Read(&Platform::listings); }
int ListingBatches() { return Read(&Platform::listingBatches); }
int ParksMidListing() { return Read(&Platform::parksMidListing); }
std::size_t ScansAtLastListingBatch() { return Read(&Platform::scansAtLastBatch); }
std::size_t Probes() { return Read(&Platform::probes); }
int Sleeps() { return Read(&Platform::sleeps); }
int OpenScHandles() { return Read(&Platform::openScHandles); }
int ProgramDataLookups() { return Read(&Platform::programDataLookups); }
bool WatchdogArmed() { return Read(&Platform::watchdogArmed); }
std::vector<std::wstring> OpenedRoots() { return Read(&Platform::openedRoots); }
std::vector<platform::DirHandle> ClosedDirectories() { return Read(&Platform::closedDirectories); }

} // namespace fake
