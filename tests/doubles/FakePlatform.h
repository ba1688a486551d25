#pragma once
// Test doubles of the platform adapters for the native build: each test
// sets what the "system" answers and reads back what the logic did with it.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/DirectoryChanges.h"
#include "platform/ScannerProcess.h"

namespace fake {

// One answer of the service probe's three calls.
struct ServiceAnswer {
    enum Failing { None, Manager, Service, Query } failing = None;
    uint32_t error = 0;
    uint32_t state = 4;
};

// One entry of the directory tree that watchers list when they recover.
struct TreeEntry {
    bool directory = false;
    bool reparsePoint = false;
    uint64_t created = 0;
    uint64_t written = 0;
    uint64_t changed = 0;
    bool openForWriting = false;
};

struct Platform {
    std::mutex mutex;
    std::condition_variable changed;

    // Known folders. Paths starting with a backslash are taken relative to
    // driveRoot, as on the current drive.
    bool programDataOk = true;
    std::wstring programData;
    bool profilesOk = true;
    std::wstring profilesRoot;
    std::filesystem::path driveRoot;
    int programDataLookups = 0;

    // Service control: answers are used in turn, the last one repeats.
    std::vector<ServiceAnswer> serviceAnswers{ServiceAnswer{}};
    std::size_t probes = 0;
    int openScHandles = 0;
    std::map<uint32_t, std::string> systemMessages;

    // Directories: roots that can be opened, and the handles closed at stop.
    std::vector<std::wstring> openableRoots;
    std::vector<std::wstring> openedRoots;
    std::vector<platform::DirHandle> closedDirectories;
    bool refuseRequests = false;
    int parkedWaits = 0; // watchers now blocked in their wait
    int waits = 0;       // waits begun
    int takenBatches = 0; // completed requests whose outcome a watcher took

    // The tree below the watched roots, by full Windows path, for listings.
    std::map<std::wstring, TreeEntry> tree;
    std::set<std::wstring> unreadableFolders;
    int listings = 0;
    unsigned listingDelayMicroseconds = 0;
    int arrivalChecks = 0; // looks at whether a file is still being written

    // Clocks: file times in 100 ns units, and milliseconds.
    uint64_t fileTime = 0;
    uint64_t monotonicMs = 0;

    // Files that exist but cannot be opened (as when another process denies
    // reading); root on Linux can read anything, so this stands in for it.
    bool failReads = false;
    bool readsRunOutOfMemory = false; // reading throws std::bad_alloc

    // Short (8.3) paths of the volume, by long path; none unless set.
    std::map<std::wstring, std::wstring> shortPaths;

    // Scanner: the command lines it was started with, in UTF-8.
    bool scannerFound = true;
    std::vector<std::string> scans;
    bool holdScans = false; // scans run until ReleaseScans
    int runningScans = 0;   // started and not yet closed by the watcher

    int sleeps = 0;
    bool watchdogArmed = false;
};

Platform& State();

// Resets the doubles and points the program-data folder and the drive root
// into a fresh temporary directory.
void Reset(const std::filesystem::path& scratch);

// Maps a Windows-style path of the logic to the scratch tree.
std::filesystem::path HostPath(const std::wstring& path);

// Wide text as UTF-8, for readable expectations.
std::string Utf8Of(const std::wstring& text);

// Hands `bytes` of change records to the watcher on `root`: at once when its
// request is pending, otherwise when it issues the next one. No bytes: the
// system lost its records. Like the system, the tree holds what the records
// say: an added or renamed-in name exists from then on (unless the test put
// it there already), a removed or renamed-away one does not.
void DeliverBatch(const std::wstring& root, const std::vector<unsigned char>& bytes);
void ForgetRequests();

// Both clocks move on.
void AdvanceClock(uint64_t milliseconds);
inline constexpr uint64_t kTicksPerMillisecond = 10000;

// Waits until `predicate` holds, up to two seconds; false on time-out.
template <typename Predicate> bool WaitUntil(Predicate predicate)
{
    Platform& p = State();
    std::unique_lock<std::mutex> lock(p.mutex);
    return p.changed.wait_for(lock, std::chrono::seconds(2), [&] { return predicate(p); });
}

// Lets the oldest held scan end.
void ReleaseScans();
void ResetScanner();
// The descriptor that becomes readable when the scan ends.
int ProcessExitDescriptor(platform::ProcessHandle process);

} // namespace fake
