#pragma once
// Test doubles of the platform adapters for the native build: each test
// sets what the "system" answers and reads back what the logic did with it,
// through the functions below. Each takes the doubles' lock, as the
// watcher threads read the same state.
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/DirectoryChanges.h"

namespace fake {

// One answer of the service probe's three calls.
struct ServiceAnswer {
    enum Failing { None, Manager, Service, Query } failing = None;
    uint32_t error = 0;
    uint32_t state = 4;
};

// One entry of the directory tree that watchers list when they recover and
// look at when new files arrive.
struct TreeEntry {
    bool directory = false;
    bool reparsePoint = false;
    uint64_t created = 0;
    uint64_t written = 0;
    uint64_t changed = 0;
    bool openForWriting = false;
    uint64_t size = 0;
};

// Where an open listing of a folder stands: its next batch starts after
// `last`, in the live tree, as a cursor over a folder's index does.
struct ListingCursor {
    std::wstring folder;
    std::wstring last;
    bool read = false; // its first read has ended
};

struct TimesSet {
    uint64_t file = 0;
    uint64_t hostChanged = 0;
    uint64_t fileTime = 0;
};

// What the doubles answer and what they saw, as Reset leaves it.
struct PlatformData {
    // Known folders. Paths starting with a backslash are taken relative to
    // driveRoot, as on the current drive.
    bool programDataOk = true;
    std::wstring programData = L"C:\\ProgramData";
    bool profilesOk = true;
    std::wstring profilesRoot = L"C:\\users";
    std::filesystem::path driveRoot;
    int programDataLookups = 0;

    // Service control: answers are used in turn, the last one repeats.
    std::vector<ServiceAnswer> serviceAnswers{ServiceAnswer{}};
    std::size_t probes = 0;
    int openScHandles = 0;
    std::map<uint32_t, std::string> systemMessages;

    // Directories: roots that can be opened, and the handles closed at stop.
    std::vector<std::wstring> openableRoots{programData, profilesRoot};
    std::vector<std::wstring> openedRoots;
    std::vector<platform::DirHandle> closedDirectories;
    bool refuseRequests = false;
    int parkedWaits = 0;       // watchers now blocked in their wait
    int parkedWithTimeout = 0; // of those, the ones whose wait has a time-out
    // When those time-outs end, on the monotonic clock: a timed wait ends
    // when the clock passes its end, as tests move it, never by itself.
    std::multiset<uint64_t> parkedUntil;
    int takenBatches = 0;      // completed requests whose outcome a watcher took
    int issuedRequests = 0;    // requests a watcher issued, the first ones too

    // The tree below the watched roots, by full Windows path, for listings.
    std::map<std::wstring, TreeEntry> tree;
    std::set<std::wstring> unreadableFolders;
    int listings = 0;       // folders opened for listing
    int listingBatches = 0; // batches read from them
    std::size_t listingBatchEntries = 64;
    unsigned listingDelayMicroseconds = 0; // per batch
    uint64_t listingBatchMilliseconds = 0; // both clocks move on this much a batch
    bool firstReadsHeld = false;
    std::map<std::uintptr_t, ListingCursor> openListings;
    std::uintptr_t nextListing = 1;
    int parksMidListing = 0;           // waits begun while a listing was open
    std::size_t scansAtLastBatch = 0;  // files handed to the scanner when the last batch was read
    int arrivalChecks = 0; // looks at whether a file is still being written
    // Whether a look can tell that a writer holds a file open, as oplocks
    // tell on Windows; under Wine it cannot, and only size and time speak.
    bool writersKnown = true;

    // Clocks: file times in 100 ns units, and milliseconds.
    uint64_t fileTime = 134000000000000000; // late 2025, in 100 ns units since 1601
    uint64_t monotonicMs = 1000000;

    // Files that exist but cannot be opened (as when another process denies
    // reading); root on Linux can read anything, so this stands in for it.
    bool failReads = false;
    bool readsRunOutOfMemory = false; // reading throws std::bad_alloc
    int fileReads = 0;                // whole files read, settled or not
    uint64_t bytesRead = 0;           // by ReadWholeFile
    // Another process holds a file open for writing: this many more reads
    // that deny writers find it held, then it writes its last bytes and
    // closes it.
    std::wstring heldFile;
    int heldForReads = 0;
    std::string heldFileLastBytes;
    bool heldFileGrows = false;
    // Files whose times a test set: the host's file and change time just
    // after, and the time set, which stands for the change time until that
    // file changes again (the host's clock is coarse: by the file, since
    // another one may be changed in the same tick).
    std::map<std::wstring, TimesSet> timesSet;

    // Files replaced whole (the watchers' progress marks), and whether that
    // fails, as on a full disk.
    int replacedFiles = 0;
    bool failReplaces = false;

    // Short (8.3) paths of the volume, by long path; none unless set.
    std::map<std::wstring, std::wstring> shortPaths;

    // Scanner: the command line of each scan started.
    bool scannerFound = true;
    std::vector<uint32_t> scanExitCodes{0}; // used in turn, the last one repeats
    std::vector<std::wstring> scanCommandLines;
    bool holdScans = false; // scans run until ReleaseScans
    int runningScans = 0;   // started and not yet closed by the watcher
    // A scan whose command line holds one of these fails (exit status 2),
    // as clamdscan does for a file it cannot open, unless it found something.
    std::vector<std::wstring> unreadableNames;
    // What each scan prints, as clamdscan does, a line a target: ERROR for
    // the unreadable, FOUND for these, OK for the rest; then extraOutput.
    // Without outputKept, what it printed could not be kept.
    std::vector<std::wstring> infectedNames;
    std::string extraOutput;
    bool outputKept = true;
    // The daemon's answers to pings ("--ping"), in turn, the last repeats.
    // Pings are never held, and are not among the scans above.
    std::vector<uint32_t> pingExitCodes{0};
    int pings = 0;
    int endedScans = 0; // ended by the watcher past their deadline

    int sleeps = 0;
    bool watchdogArmed = false;
};

// The doubles' shared state. Tests read it only inside WaitUntil.
struct Platform : PlatformData {
    std::mutex mutex;
    std::condition_variable changed;
};

// Resets the doubles and points the program-data folder and the drive root
// into a fresh temporary directory.
void Reset(const std::filesystem::path& scratch);

// Maps a Windows-style path of the logic to the scratch tree.
std::filesystem::path HostPath(const std::wstring& path);

// Wide text as UTF-8, for readable expectations.
std::string Utf8Of(const std::wstring& text);

// Waits until `holds` is true of the state, up to two seconds; false on
// time-out. It runs under the lock: it must not call the functions below.
bool WaitUntil(const std::function<bool(const Platform&)>& holds);

// --- What the system answers.

void SetServiceAnswers(std::vector<ServiceAnswer> answers);
void SetSystemMessages(std::map<uint32_t, std::string> messages);
void SetProgramDataFound(bool found);
void SetProfilesRootFound(bool found);
void SetOpenableRoots(std::vector<std::wstring> roots);
void RefuseChangeRequests();

// Hands `bytes` of change records to the watcher on `root`: at once when its
// request is pending, otherwise when it issues the next one. No bytes: the
// system lost its records. Like the system, the tree holds what the records
// say: an added or renamed-in name exists from then on (unless the test put
// it there already), a removed or renamed-away one does not.
void DeliverBatch(const std::wstring& root, const std::vector<unsigned char>& bytes);

// The tree, by full Windows path.
void SetTreeEntry(const std::wstring& path, const TreeEntry& entry);
void SetTreeEntries(std::map<std::wstring, TreeEntry> entries);
void EraseTreeEntry(const std::wstring& path);
void ClearTree(); // and its unreadable folders
// Another process has the file open for writing, or no longer; a missing
// entry is made.
void SetBeingWritten(const std::wstring& path, bool beingWritten);
// Another process wrote to the file: it has `size` bytes, written now.
void WriteTo(const std::wstring& path, uint64_t size);
// Whether looks can tell that a writer holds a file open.
void SetWritersKnown(bool known);
void SetUnreadable(const std::wstring& folder);
// Each batch of a listing takes this long, so a test can stop in the middle.
void SetListingDelay(unsigned microseconds);
// Each batch of a listing moves both clocks on by this much, as if reading
// it took that long.
void SetListingBatchMilliseconds(uint64_t milliseconds);
// Each batch of a listing holds at most this many entries (64 unless set).
void SetListingBatch(std::size_t entries);
// The first read of each folder does not end until released, as Wine's
// first read of a big folder takes its time.
void HoldFirstReads(bool held);

void FailReads();
void FailReplaces(bool failing);
int ReplacedFiles();
void RunReadsOutOfMemory();
// Another process truncated `path` and writes it: reads that deny writers
// find it held `reads` more times, then it holds `lastBytes` and is
// closed. Meanwhile it holds `partBytes`, as far as the writer has come;
// with `writingOn`, one byte more at each read that finds it held.
void HoldWriter(const std::wstring& path, int reads, const std::string& partBytes, const std::string& lastBytes,
                bool writingOn = false);
// The last-write time of a file, as a writer or SetFileTime leaves it.
void SetLastWrite(const std::wstring& path, uint64_t fileTime);
// Whole files read so far, and the bytes ReadWholeFile returned.
int FileReads();
uint64_t BytesRead();
void SetShortPath(const std::wstring& longPath, const std::wstring& shortPath);

// Both clocks move on.
void AdvanceClock(uint64_t milliseconds);
// The wall clock alone is set back, as an administrator or a time service
// may do; the monotonic clock does not move.
void StepWallClockBack(uint64_t milliseconds);
inline constexpr uint64_t kTicksPerMillisecond = 10000;
uint64_t FileTimeNow();
uint64_t MillisecondsNow();

// The scanner: whether it is found, and scans that run until released.
void SetScannerFound(bool found);
// How the scans started from now on end: each takes the next code, and the
// last one repeats.
void SetScanExitCodes(std::vector<uint32_t> codes);
void HoldScans();
// Ends every held scan, and scans run freely again.
void ReleaseScans();
// Scans that name one of these fail, as for a file the scanner cannot open.
void SetUnreadableFiles(std::vector<std::wstring> names);
// Targets whose scan prints a detection (the exit code is the test's to set).
void SetInfectedFiles(std::vector<std::wstring> names);
// Lines every scan prints after its own, as a file name might try to forge.
void SetExtraOutput(std::string text);
void SetOutputKept(bool kept);
void SetPingExitCodes(std::vector<uint32_t> codes);
int Pings();
int EndedScans();

// --- What the logic did.

// The command line of each scan, as it was given.
std::vector<std::wstring> ScanCommandLines();
// The arguments of each scan as the scanner's CommandLineToArgvW gives them,
// in UTF-8, the program's name first.
std::vector<std::vector<std::string>> ScanArguments();
// Of each scan, the paths it was given: the arguments after the quarantine
// option.
std::vector<std::vector<std::string>> ScannedPaths();

int TakenBatches();
int ArrivalChecks();
int Listings();
int ListingBatches();
int ParksMidListing();
std::size_t ScansAtLastListingBatch();
std::size_t Probes();
int Sleeps();
int OpenScHandles();
int ProgramDataLookups();
bool WatchdogArmed();
std::vector<std::wstring> OpenedRoots();
std::vector<platform::DirHandle> ClosedDirectories();

} // namespace fake
