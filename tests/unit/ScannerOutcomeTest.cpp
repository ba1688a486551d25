// A scan that could not run is not a scan: the scanner's answer decides,
// files it failed for wait and are tried again with a growing interval,
// and an outage is reported once at each end.
#include "tests/unit/WatchersFixture.h"
#include "watch/scan/FileRetries.h"
#include "watch/scan/ScanCommand.h"
#include "watch/names/NameCost.h"
#include "watch/intake/PendingChanges.h"
#include "watch/scan/ScannerStage.h"
#include "watch/scan/WaitingFiles.h"
#include "watch/WatchLimits.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

namespace {

// When the files handed over arrived; what the stage holds keeps it.
constexpr platform::FileTime kSince = 1;

const std::string kFailed = "In StartScan: clamdscan failed with exit status 2 for \"C:\\ProgramData\\a.exe\"; "
                            "new files wait and are tried again while it fails.";

// The stage alone, driven with explicit times: nothing waits for real.
class ScannerStageTest : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        stage = std::make_unique<ScannerStage>(programData, programData, kWatchLimits);
    }

    void Put(const std::string& name)
    {
        fake::SetTreeEntry(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), fake::TreeEntry{});
    }

    // Starts the file as the loop would: a due retry first, else a new one.
    void Submit(const std::string& name, uint64_t nowMs)
    {
        Put(name);
        stage->Submit(std::u16string(name.begin(), name.end()), kSince, nowMs);
        stage->StartReady(nowMs);
        Finish(nowMs);
    }

    // Lets the running call end, and the ping that may follow it, and
    // reads their answers.
    void Finish(uint64_t nowMs)
    {
        for (int calls = 0; stage->Running() && calls < 10; ++calls) {
            ASSERT_TRUE(fake::WaitUntil([](const fake::Platform&) { return true; }));
            // A call past its deadline is ended by the poll, not awaited.
            for (int i = 0; i < 1000 && stage->MillisecondsToDeadline(nowMs) > 0 &&
                            !platform::ProcessExited(stage->Running());
                 ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            stage->Poll(nowMs);
        }
        ASSERT_TRUE(stage->Idle());
    }

    // Runs every call due at `nowMs`, as the loop would: due retries, then
    // the ready files. True when one ran.
    bool RunDue(uint64_t nowMs)
    {
        bool ran = false;
        for (int i = 0; i < 1000; ++i) {
            if (stage->StartDueRetry(nowMs)) {
                ran = true;
            } else if (!stage->Failing() && stage->HasReady()) {
                stage->StartReady(nowMs);
                ran = true;
            } else {
                return ran;
            }
            Finish(nowMs);
        }
        ADD_FAILURE() << "calls without end";
        return ran;
    }

    bool Retry(uint64_t nowMs) { return RunDue(nowMs); }

    const std::wstring programData = L"C:\\ProgramData";
    std::unique_ptr<ScannerStage> stage;
};

const uint64_t kDeadlineMs = kWatchLimits.callBaseMs + kWatchLimits.callPerFileMs;

} // namespace

// Which answers are scans, and whose fault a failure is: a failing file
// waits alone while the daemon answers a ping; otherwise the scanner is out.
TEST_F(ScannerStageTest, TheAnswerDecidesWhetherAFileWasScannedAndWhoseFaultAFailureIs)
{
    enum Outcome { Scanned, FailsAlone, Outage };
    const struct {
        const char* name;
        std::vector<uint32_t> codes;
        bool scannerFound;
        uint32_t ping;
        bool hangs;
        Outcome outcome;
        const char* how;
    } cases[] = {
        {"clean", {0}, true, 0, false, Scanned, nullptr},
        {"found", {1}, true, 0, false, Scanned, nullptr},
        {"unreadable file", {2}, true, 0, false, FailsAlone, "clamdscan failed with exit status 2"},
        {"daemon away", {2}, true, 21, false, Outage, "clamdscan failed with exit status 2"},
        {"crash", {0xC0000005}, true, 21, false, Outage, "clamdscan failed with exit status 0xC0000005"},
        {"no client", {0}, false, 0, false, Outage, "clamdscan could not be started"},
        {"client hangs on the file", {0}, true, 0, true, FailsAlone, "clamdscan did not end within 125 s"},
        {"daemon hangs", {0}, true, 21, true, Outage, "clamdscan did not end within 125 s"},
    };
    uint64_t now = 1000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        fake::SetScanExitCodes(c.codes);
        fake::SetScannerFound(c.scannerFound);
        fake::SetPingExitCodes({c.ping});
        if (c.hangs) {
            fake::HoldScans();
            Put("a.exe");
            stage->Submit(u"a.exe", kSince, now);
            stage->StartReady(now);
            ASSERT_FALSE(stage->Idle());
            stage->Poll(now + kDeadlineMs - 1);
            ASSERT_FALSE(stage->Idle()) << "ended before its deadline";
            Finish(now + kDeadlineMs);
            EXPECT_EQ(fake::EndedScans(), 1);
            fake::ReleaseScans();
        } else {
            Submit("a.exe", now);
        }
        EXPECT_EQ(stage->HasWaiting(), c.outcome != Scanned);
        EXPECT_EQ(stage->Failing(), c.outcome == Outage);
        const std::string log = LogBytes(L"ErrorFunctionLogs.txt");
        const std::string named = std::string(c.how ? c.how : "") + " for \"C:\\ProgramData\\a.exe\"";
        if (c.outcome == Scanned)
            EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt"));
        if (c.outcome == Outage)
            EXPECT_NE(log.find(named + "; new files wait and are tried again while it fails."), std::string::npos) << log;
        if (c.outcome == FailsAlone)
            EXPECT_NE(log.find(named + ", though it scans other files; that file is tried again alone"),
                      std::string::npos)
                << log;
        EXPECT_EQ(log.find("did not end within 125 s, the time a call of 1 files is given") != std::string::npos,
                  c.hangs);
        // Back to a working scanner: the waiting file is scanned at its turn.
        fake::SetScanExitCodes({0});
        fake::SetScannerFound(true);
        fake::SetPingExitCodes({0});
        now += kDeadlineMs + 1000;
        EXPECT_EQ(Retry(now), c.outcome != Scanned);
        EXPECT_FALSE(stage->HasWaiting());
        const std::string after = LogBytes(L"ErrorFunctionLogs.txt");
        EXPECT_EQ(after.find("PELMON: clamdscan scans again after") != std::string::npos, c.outcome == Outage);
        EXPECT_EQ(after.find("scanned \"C:\\ProgramData\\a.exe\" at last, after 1 failed tries") != std::string::npos,
                  c.outcome == FailsAlone);
        if (c.codes.front() == 1)
            EXPECT_EQ(LogBytes(L"SuccessScanLogs.txt"),
                      Entry("PELMON: 2025-08-18 14:13:20 UTC: clamdscan found a threat in \"C:\\ProgramData\\a.exe\" "
                            "and moved it to the quarantine folder \"C:\\ProgramData\\Pelorin\\Vault\"."));
        now += 1000;
    }
}

TEST_F(ScannerStageTest, WhileItFailsOnlyTheOldestIsTriedAtIntervalsDoublingToThirtySeconds)
{
    fake::SetScanExitCodes({2});
    fake::SetPingExitCodes({21});
    Submit("a.exe", 0);
    uint64_t now = 0;
    for (uint64_t interval : {1000, 2000, 4000, 8000, 16000, 30000, 30000}) {
        EXPECT_FALSE(Retry(now + interval - 1)) << "tried early";
        now += interval;
        EXPECT_TRUE(Retry(now));
    }
    EXPECT_EQ(fake::ScanArguments().size(), 8u);
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"), Entry(kFailed)) << "said once";

    // Gone by its next turn: dropped, nothing is tried, and the next file
    // that comes carries the tries at once.
    fake::EraseTreeEntry(L"C:\\ProgramData\\a.exe");
    EXPECT_FALSE(Retry(now + 30000));
    EXPECT_FALSE(stage->Failing()) << "nothing waits: new files must be taken on";
    Put("b.exe");
    stage->Submit(u"b.exe", kSince, now + 30000);
    EXPECT_TRUE(stage->Failing());
    fake::SetScanExitCodes({1}); // a detection ends the outage as well
    EXPECT_TRUE(Retry(now + 30000));
    EXPECT_FALSE(stage->HasWaiting());
    EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("PELMON: clamdscan scans again after 121 s; the 1 new files"),
              std::string::npos);
}

// The daemon comes back between a try that failed and the ping after it:
// the file tried is taken for one that fails alone. With no other file
// waiting to carry the tries, it is tried alone all the same, and its scan
// ends the outage.
TEST_F(ScannerStageTest, AFileBlamedAsTheDaemonCameBackIsTriedAloneAndEndsTheOutage)
{
    fake::SetScanExitCodes({2});
    fake::SetPingExitCodes({21, 0});
    Submit("a.exe", 0);
    ASSERT_TRUE(Retry(1000));
    ASSERT_EQ(fake::Pings(), 2);
    fake::SetScanExitCodes({0});
    EXPECT_FALSE(RunDue(1999)) << "tried early";
    EXPECT_TRUE(RunDue(2000));
    EXPECT_EQ(fake::ScannedPaths().size(), 3u);
    EXPECT_FALSE(stage->HasWaiting());
    const std::string log = LogBytes(L"ErrorFunctionLogs.txt");
    EXPECT_NE(log.find("PELMON: clamdscan scanned \"C:\\ProgramData\\a.exe\" at last"), std::string::npos);
    EXPECT_NE(log.find("PELMON: clamdscan scans again after 2 s"), std::string::npos);
}

TEST_F(ScannerStageTest, AFailedScanOfAFileThatIsGoneIsNoOutage)
{
    fake::SetScanExitCodes({2});
    fake::SetTreeEntry(L"C:\\ProgramData\\.clamav-unlink-x", fake::TreeEntry{});
    stage->Submit(u".clamav-unlink-x", kSince, 0);
    stage->StartReady(0);
    fake::EraseTreeEntry(L"C:\\ProgramData\\.clamav-unlink-x"); // gone while it was scanned
    Finish(0);
    EXPECT_FALSE(stage->HasWaiting());
    EXPECT_FALSE(stage->Failing());
    EXPECT_EQ(fake::Pings(), 0);
    EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt"));
}

// A call waits for more files only a little: a file that arrives amid a
// flood of names the filters turn away is not held until all are offered.
// Three names of 9,000 characters leave the line short of full; a fourth
// fills it.
TEST_F(ScannerStageTest, ACallIsDueWhenFullOrOnceItsFirstFileHasWaited)
{
    const auto submit = [this](int count, uint64_t nowMs) {
        for (int i = 0; i < count; ++i) {
            std::string name = "d" + std::to_string(nowMs) + "-" + std::to_string(i);
            name += std::string(9000 - name.size(), 'x');
            fake::SetTreeEntry(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), fake::TreeEntry{});
            stage->Submit(std::u16string(name.begin(), name.end()), kSince, nowMs);
        }
    };
    EXPECT_FALSE(stage->CallDue(0));
    submit(1, 1000);
    submit(2, 1100);
    EXPECT_FALSE(stage->ReadyFull());
    EXPECT_FALSE(stage->CallDue(1000 + ScannerStage::kGatherMs - 1));
    EXPECT_TRUE(stage->CallDue(1000 + ScannerStage::kGatherMs));
    submit(1, 1200);
    EXPECT_TRUE(stage->CallDue(1200)); // full
    stage->StartReady(1200);
    Finish(1200);
    ASSERT_EQ(fake::ScannedPaths().size(), 1u);
    EXPECT_EQ(fake::ScannedPaths()[0].size(), 3u);
    EXPECT_TRUE(stage->HasReady());
}

// A call carries every ready file that fits its command line, in order,
// and no file count cuts it short: a backlog costs a call per 30,000
// characters of names.
TEST_F(ScannerStageTest, ACallTakesWhatFitsThirtyThousandCharacters)
{
    const auto calls = [this](const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            fake::SetTreeEntry(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), fake::TreeEntry{});
            stage->Submit(std::u16string(name.begin(), name.end()), kSince, 0);
        }
        const std::size_t before = fake::ScanCommandLines().size();
        while (stage->HasReady()) {
            stage->StartReady(0);
            Finish(0);
        }
        const std::vector<std::wstring> lines = fake::ScanCommandLines();
        return std::vector<std::wstring>(lines.begin() + before, lines.end());
    };
    std::vector<std::string> backlog;
    for (int i = 0; i < 2500; ++i)
        backlog.push_back("b" + std::to_string(10000 + i) + ".exe");
    const std::vector<std::wstring> lines = calls(backlog);
    ASSERT_GE(lines.size(), 2u);
    const auto paths = fake::ScannedPaths();
    ASSERT_EQ(paths.size(), lines.size());
    Paths inOrder;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), kCommandChars);
        // Full: the next file would not have fitted.
        if (i + 1 < lines.size())
            EXPECT_GT(lines[i].size() + CommandCharsOf(std::wstring(paths[i + 1][0].begin(), paths[i + 1][0].end())),
                      kCommandChars);
        inOrder.insert(inOrder.end(), paths[i].begin(), paths[i].end());
    }
    EXPECT_GT(paths[0].size(), 64u);
    ASSERT_EQ(inOrder.size(), backlog.size());
    for (std::size_t i = 0; i < backlog.size(); ++i)
        EXPECT_EQ(inOrder[i], "C:\\ProgramData\\" + backlog[i]);

    const std::vector<std::string> longNames{std::string(12000, 'x') + "1", std::string(12000, 'x') + "2",
                                             std::string(12000, 'x') + "3"};
    EXPECT_EQ(calls(longNames).size(), 2u) << "the command line stays short enough";
}

namespace {

// A list of files bounded in bytes, driven the same way whichever it is:
// files that wait out an outage, and files retried alone.
class BoundedFiles {
public:
    virtual ~BoundedFiles() = default;
    // A file the list is newly given; false when it is refused.
    virtual bool Add(WaitingFiles::File file) = 0;
    // The file whose try is due is taken out for it; false when none is.
    virtual bool Take() = 0;
    // The try of the file taken failed: it goes back; false when refused.
    virtual bool PutBack() = 0;
    virtual std::size_t Size() const = 0;
};

// Each try comes once the longest interval has passed: always due.
class Waiting : public BoundedFiles {
public:
    Waiting(std::size_t limit, bool queued) : m_files(limit), m_queued(queued) {}
    bool Add(WaitingFiles::File file) override
    {
        return m_queued ? m_files.Queue(std::move(file)) : m_files.Failed(std::move(file), false, m_now);
    }
    bool Take() override
    {
        m_now += WaitingFiles::kLongestIntervalMs;
        return m_files.TakeDue(m_now, m_taken);
    }
    bool PutBack() override { return m_files.Failed(std::move(m_taken), true, m_now); }
    std::size_t Size() const override { return m_files.Size(); }

private:
    WaitingFiles m_files;
    bool m_queued;
    uint64_t m_now = 0;
    WaitingFiles::File m_taken;
};

class Retries : public BoundedFiles {
public:
    explicit Retries(std::size_t limit) : m_retries(limit) {}
    bool Add(WaitingFiles::File file) override { return m_retries.Add(std::move(file), m_now); }
    bool Take() override
    {
        m_now += FileRetries::kLongestIntervalMs;
        return m_retries.TakeDue(m_now, m_taken);
    }
    bool PutBack() override
    {
        m_retries.Failed(std::move(m_taken), m_now);
        return true;
    }
    std::size_t Size() const override { return m_retries.Size(); }

private:
    FileRetries m_retries;
    uint64_t m_now = 0;
    FileRetries::Retry m_taken;
};

struct BoundedKind {
    const char* name;
    std::function<std::unique_ptr<BoundedFiles>(std::size_t limit)> make;
};

const BoundedKind kBoundedKinds[] = {
    {"a new file queued while files wait", [](std::size_t limit) { return std::make_unique<Waiting>(limit, true); }},
    {"a file the scanner failed for", [](std::size_t limit) { return std::make_unique<Waiting>(limit, false); }},
    {"a file retried alone", [](std::size_t limit) { return std::make_unique<Retries>(limit); }},
};

// How many copies of `file` the list takes before it refuses one; it is
// given one more than `most`, so that a list that never refuses fails.
std::size_t Fill(BoundedFiles& list, const WaitingFiles::File& file, std::size_t most)
{
    std::size_t taken = 0;
    while (taken <= most && list.Add(file))
        ++taken;
    return taken;
}

} // namespace

// A list of N bytes holds what fits in N bytes, each file charged what
// holding it costs: twice what the pending queue charges for its name. A
// file charged less (once, or by units rather than bytes) lets more in than
// fit; one charged more, fewer.
TEST(BoundedFilesTest, AListHoldsWhatFitsInItsBytesEachFileChargedTwiceItsName)
{
    for (const BoundedKind& kind : kBoundedKinds) {
        for (const std::size_t length : {1, 5, 64, 300}) {
            SCOPED_TRACE(std::string(kind.name) + ", a name of " + std::to_string(length) + " units");
            const std::u16string name(length, u'x');
            const WaitingFiles::File file{name};
            const std::size_t charge = 2 * NameCost(name);

            for (const std::size_t fit : {1, 3}) {
                // Room for exactly `fit` files, and for one fewer when a
                // byte is missing.
                const std::size_t limit = fit * charge;
                const std::size_t held = Fill(*kind.make(limit), file, fit);
                EXPECT_EQ(held, fit);
                EXPECT_EQ(Fill(*kind.make(limit - 1), file, fit), fit - 1);
                // Whatever the charge, the names' own bytes stay inside the bound.
                EXPECT_LE(held * 2 * length * sizeof(char16_t), limit);
            }

            const std::unique_ptr<BoundedFiles> list = kind.make(3 * charge);
            ASSERT_EQ(Fill(*list, file, 3), 3u);
            ASSERT_TRUE(list->Take());
            EXPECT_TRUE(list->Add(file)) << "the room the file tried left is free";
            EXPECT_TRUE(list->PutBack()) << "the one tried always goes back";
            EXPECT_EQ(list->Size(), 4u);
            // Over its bound by the one put back, charged again: with one
            // file out, it is still full.
            ASSERT_TRUE(list->Take());
            EXPECT_FALSE(list->Add(file)) << "the one put back is charged again";
            std::size_t taken = 0;
            while (taken <= 3 && list->Take())
                ++taken;
            EXPECT_EQ(taken, 3u);
            EXPECT_EQ(Fill(*list, file, 3), 3u) << "a file taken out gives back what it was charged";
        }
    }
}

// The loop around it: new files stay queued while the scanner fails, and
// all are scanned in order of arrival once it works.
TEST_F(WatchersTest, FilesThatArriveDuringAnOutageAreScannedInOrderOnceItEnds)
{
    fake::SetScanExitCodes({2});
    fake::SetPingExitCodes({21});
    // a.exe's scan fails and is tried again a second later; b.exe and c.exe
    // arrive a quarter of that second in, and wait.
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"a.exe"}}));
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"b.exe"}, {Added, u"c.exe"}}));
    Pass(749);
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\a.exe"});
    Pass(1);
    EXPECT_EQ(ScannedFiles().size(), 2u);
    fake::SetScanExitCodes({0});
    Pass(2000);
    Pass(ArrivedFiles::kLookEveryMs); // b and c are found quiet
    EXPECT_EQ(ScannedFiles(), (Paths{"C:\\ProgramData\\a.exe", "C:\\ProgramData\\a.exe", "C:\\ProgramData\\a.exe",
                                     "C:\\ProgramData\\b.exe", "C:\\ProgramData\\c.exe"}));
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"),
              Entry(kFailed) + Entry("PELMON: clamdscan scans again after 3 s; the 3 new files that waited "
                                     "are scanned now."));
}

namespace {

std::vector<ChangeRecord> AddedFiles(const std::string& prefix, int count)
{
    std::vector<ChangeRecord> records;
    for (int i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(1000 + i) + ".exe";
        records.push_back({Added, std::u16string(name.begin(), name.end())});
    }
    return records;
}

std::vector<std::vector<std::string>> Calls(std::initializer_list<std::pair<std::string, std::pair<int, int>>> groups)
{
    std::vector<std::vector<std::string>> calls;
    for (const auto& [prefix, range] : groups) {
        calls.emplace_back();
        for (int i = range.first; i < range.second; ++i)
            calls.back().push_back("C:\\ProgramData\\" + prefix + std::to_string(1000 + i) + ".exe");
    }
    return calls;
}

} // namespace

// A backlog that arrives during a scan goes to the scanner in one call, in
// the order the files arrived; a lone file keeps its call to itself.
TEST_F(WatchersTest, ABacklogIsScannedManyFilesACallInOrderOfArrival)
{
    fake::HoldScans();
    DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch(AddedFiles("first", 1)));
    // As many as the test build's small pending queue holds.
    fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch(AddedFiles("f", 20)));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.takenBatches == 2 && p.parkedWaits == 2; }));
    fake::ReleaseScans();
    Pass();
    EXPECT_EQ(fake::ScannedPaths(), Calls({{"first", {0, 1}}, {"f", {0, 20}}}));
}

// A call of several that fails for one of its files while the scanner
// works, and whose output was lost, is halved until that file is found; it
// waits alone, and the others are scanned. Of a call that found something, only the file it reported
// found is recorded.
TEST_F(WatchersTest, AFailedCallIsHalvedAndOnlyAFileReportedFoundIsRecorded)
{
    fake::HoldScans();
    DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch(AddedFiles("first", 1)));
    fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch(AddedFiles("s", 3)));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.takenBatches == 2 && p.parkedWaits == 2; }));
    fake::SetUnreadableFiles({L"s1001"});
    fake::SetOutputKept(false);
    fake::ReleaseScans();
    Pass(500);
    EXPECT_EQ(fake::ScannedPaths(), Calls({{"first", {0, 1}}, {"s", {0, 3}}, {"s", {0, 1}}, {"s", {1, 3}},
                                           {"s", {1, 2}}, {"s", {2, 3}}}));
    EXPECT_EQ(fake::Pings(), 2) << "a ping for the call, none for the half that failed after the other passed";
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"),
              Entry("In StartScan: clamdscan failed with exit status 2 for \"C:\\ProgramData\\s1001.exe\", "
                    "though it scans other files; that file is tried again alone, at intervals that grow to "
                    "10 minutes, while it exists."));
    fake::SetUnreadableFiles({});
    Pass(1000);
    EXPECT_EQ(fake::ScannedPaths().back(), Calls({{"s", {1, 2}}}).front());

    // A call that found something: only the file it reported found is
    // recorded, not the clean one deleted during the call.
    fake::HoldScans();
    fake::SetOutputKept(true);
    fake::SetScanExitCodes({1, 0});
    fake::SetInfectedFiles({L"v1001"});
    DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch(AddedFiles("v", 3)));
    fake::EraseTreeEntry(L"C:\\ProgramData\\v1001.exe"); // the scanner moved it
    fake::EraseTreeEntry(L"C:\\ProgramData\\v1002.exe"); // its owner deleted it
    fake::ReleaseScans();
    Pass();
    ASSERT_EQ(fake::ScannedPaths().back(), Calls({{"v", {0, 3}}}).front());
    const std::string found = LogBytes(L"SuccessScanLogs.txt");
    EXPECT_NE(found.find("found a threat in \"C:\\ProgramData\\v1001.exe\""), std::string::npos);
    EXPECT_EQ(found.find("v1000.exe"), std::string::npos);
    EXPECT_EQ(found.find("v1002.exe"), std::string::npos);
}

// One unreadable file among 64 costs a few calls, not 64, wherever it is:
// one, when the client's output names it; by halves, when that was lost.
TEST_F(ScannerStageTest, TheFileThatFailsACallOfSixtyFourIsFoundInAFewCalls)
{
    // Two bad files make a part of the call in which every file fails.
    const std::vector<std::vector<int>> bads{{0}, {31}, {63}, {10, 50}};
    for (const bool kept : {true, false})
    for (const std::vector<int>& bad : bads) {
        SCOPED_TRACE(std::to_string(bad.front()) + (bad.size() > 1 ? " and " + std::to_string(bad.back()) : "") +
                     (kept ? " named by the output" : " found by halves"));
        TearDown();
        SetUp();
        fake::SetOutputKept(kept);
        std::vector<std::wstring> badNames;
        std::vector<std::string> badPaths;
        for (int b : bad) {
            badNames.push_back(L"h" + std::to_wstring(1000 + b));
            badPaths.push_back("C:\\ProgramData\\h" + std::to_string(1000 + b) + ".exe");
        }
        fake::SetUnreadableFiles(badNames);
        std::vector<std::string> paths;
        for (int i = 0; i < 64; ++i) {
            const std::string name = "h" + std::to_string(1000 + i) + ".exe";
            Put(name);
            paths.push_back("C:\\ProgramData\\" + name);
            stage->Submit(std::u16string(name.begin(), name.end()), kSince, 0);
        }
        RunDue(0);
        const auto calls = fake::ScannedPaths();
        EXPECT_LE(calls.size(), kept ? 3 * bad.size() - 2 : 13u * bad.size());
        EXPECT_LE(fake::Pings(), kept ? bad.size() - 1 : 4u * bad.size());
        // Every other file was in a call that passed, or was reported
        // clean by the call that failed; no call named anything else.
        const auto isBad = [&](const std::string& path) {
            return std::find(badPaths.begin(), badPaths.end(), path) != badPaths.end();
        };
        std::map<std::string, int> scanned;
        for (const Paths& call : calls) {
            for (const std::string& path : call)
                EXPECT_NE(std::find(paths.begin(), paths.end(), path), paths.end()) << "a call named " << path;
            if (kept || std::none_of(call.begin(), call.end(), isBad))
                for (const std::string& path : call)
                    ++scanned[path];
        }
        for (const std::string& path : paths) {
            if (!isBad(path))
                EXPECT_GE(scanned[path], 1) << path;
        }
        for (const std::string& badPath : badPaths)
            EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("for \"" + badPath + "\", though it scans other files"),
                      std::string::npos);
        EXPECT_TRUE(stage->HasWaiting());
        EXPECT_FALSE(stage->Failing());
    }
}

// A file that keeps failing is tried alone at intervals doubling from 1 s
// to 10 minutes, and named twice in all: when it first fails and once it
// is scanned; new files go on meanwhile.
TEST_F(ScannerStageTest, AFileThatFailsAloneIsTriedOnItsOwnBackOffAndNamedTwice)
{
    fake::SetUnreadableFiles({L"locked"});
    Submit("locked.vhdx", 0);
    uint64_t now = 0;
    int tries = 1;
    for (uint64_t interval = 2000; interval <= 3600000; interval *= 2) {
        const uint64_t wait = std::min<uint64_t>(interval / 2, FileRetries::kLongestIntervalMs);
        EXPECT_FALSE(RunDue(now + wait - 1)) << "tried early";
        now += wait;
        EXPECT_TRUE(RunDue(now));
        ++tries;
        Submit("new" + std::to_string(tries) + ".exe", now);
        EXPECT_EQ(fake::ScannedPaths().back(), Paths{"C:\\ProgramData\\new" + std::to_string(tries) + ".exe"});
    }
    EXPECT_EQ(tries, 12) << "at 1 s, 2 s, ... 512 s, then 10 minutes later";
    fake::SetUnreadableFiles({});
    now += FileRetries::kLongestIntervalMs;
    EXPECT_TRUE(RunDue(now));
    EXPECT_FALSE(stage->HasWaiting());
    const std::string log = LogBytes(L"ErrorFunctionLogs.txt");
    EXPECT_EQ(log, Entry("In StartScan: clamdscan failed with exit status 2 for \"C:\\ProgramData\\locked.vhdx\", "
                         "though it scans other files; that file is tried again alone, at intervals that grow to "
                         "10 minutes, while it exists.") +
                       Entry("PELMON: clamdscan scanned \"C:\\ProgramData\\locked.vhdx\" at last, after 12 failed "
                             "tries."));
}

// The quarantine folder is made when it is missing, at start and when a
// scan fails for want of it; something else in its place is reported
// once, by its own name, and nothing is scanned until it is a folder.
TEST_F(ScannerStageTest, TheQuarantineFolderIsMadeWhenMissingAndReportedWhenSomethingElseIsThere)
{
    const std::filesystem::path vault = ProductFolder() / "Vault";
    const std::string made = Entry("PELMON: the quarantine folder \"C:\\ProgramData\\Pelorin\\Vault\" was missing; "
                                   "it was made again.");
    std::filesystem::remove_all(vault);
    stage = std::make_unique<ScannerStage>(programData, programData, kWatchLimits);
    EXPECT_TRUE(std::filesystem::is_directory(vault)) << "made at start";
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"), made);

    std::filesystem::remove_all(vault);
    fake::SetScanExitCodes({2, 0}); // clamdscan refuses to scan without it
    Submit("a.exe", 1000);
    RunDue(1000);
    EXPECT_TRUE(std::filesystem::is_directory(vault));
    EXPECT_FALSE(stage->HasWaiting()) << "scanned once it was made again";
    EXPECT_EQ(fake::ScannedPaths().size(), 2u);
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"), made + made);

    std::filesystem::remove_all(vault);
    WriteFile(vault, "not a folder");
    fake::SetScanExitCodes({2});
    Submit("b.exe", 2000);
    EXPECT_TRUE(stage->Failing());
    for (uint64_t now = 3000; now < 120000; now += 1000)
        RunDue(now);
    EXPECT_EQ(fake::ScannedPaths().size(), 3u) << "nothing is tried while the folder is not one";
    const std::string notAFolder =
        Entry("In StartScan: the quarantine folder \"C:\\ProgramData\\Pelorin\\Vault\" is not a folder, and "
              "clamdscan fails every scan without it; new files wait and are tried again until it is one.");
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"), made + made + notAFolder) << "said once, naming no file";

    std::filesystem::remove(vault);
    fake::SetScanExitCodes({0});
    EXPECT_TRUE(RunDue(150000));
    EXPECT_FALSE(stage->HasWaiting());
    EXPECT_EQ(fake::ScannedPaths().back(), Paths{"C:\\ProgramData\\b.exe"});
    EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("PELMON: clamdscan scans again after"), std::string::npos);
}

// The outage waits on no file that is gone: the next file to arrive
// carries the tries, and once the scanner is back it is scanned within the
// back-off, and the end of the outage is reported.
TEST_F(WatchersTest, AnOutageWhoseFileWentAwayGoesOnWithTheNextFile)
{
    fake::SetScanExitCodes({2});
    fake::SetPingExitCodes({21});
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"gone.exe"}}));
    ASSERT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\gone.exe"});
    fake::EraseTreeEntry(L"C:\\ProgramData\\gone.exe");
    Pass(1000); // its try finds it gone
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"next.exe"}}));
    fake::SetScanExitCodes({0});
    Pass(4000);
    EXPECT_EQ(ScannedFiles().back(), "C:\\ProgramData\\next.exe");
    EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("PELMON: clamdscan scans again after"), std::string::npos);
}

// A call is given the time of 64 files at most, however many it carries: a
// client that hangs holds the scans no longer than before calls grew. A
// call that needed longer is found by halves like any failed call.
TEST_F(ScannerStageTest, ACallOfManyFilesIsGivenTheTimeOf64AndGoesOnByHalves)
{
    fake::HoldScans();
    for (int i = 0; i < 100; ++i) {
        const std::string name = "f" + std::to_string(i) + ".exe";
        Put(name);
        stage->Submit(std::u16string(name.begin(), name.end()), kSince, 0);
    }
    stage->StartReady(0);
    const uint64_t deadline = kWatchLimits.callBaseMs + 64 * kWatchLimits.callPerFileMs;
    stage->Poll(deadline - 1);
    ASSERT_FALSE(stage->Idle()) << "ended before its deadline";
    Finish(deadline);
    EXPECT_EQ(fake::EndedScans(), 1);
    EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("did not end within 440 s, the time a call of 100 files is given"),
              std::string::npos);
    fake::ReleaseScans();
    const std::size_t before = fake::ScanCommandLines().size();
    EXPECT_TRUE(RunDue(deadline));
    std::vector<std::size_t> calls;
    const std::vector<std::wstring> lines = fake::ScanCommandLines();
    for (std::size_t i = before; i < lines.size(); ++i) {
        std::size_t files = 0;
        for (std::size_t at = lines[i].find(L".exe\""); at != std::wstring::npos; at = lines[i].find(L".exe\"", at + 1))
            ++files;
        calls.push_back(files);
    }
    EXPECT_EQ(calls, (std::vector<std::size_t>{50, 50}));
}

// A call that never ends is ended at its deadline; the files behind it go
// on, and the one it hung on is tried again alone.
TEST_F(WatchersTest, ACallThatNeverEndsIsEndedAtItsDeadlineAndTheFilesBehindItGoOn)
{
    fake::HoldScans();
    DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch({{Added, u"hangs.exe"}}));
    fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch({{Added, u"after.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.takenBatches == 2 && p.parkedWaits == 2; }));
    fake::AdvanceClock(kDeadlineMs - 1);
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.parkedWaits == 2; }));
    EXPECT_EQ(fake::EndedScans(), 0);
    fake::AdvanceClock(1);
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.endedScans == 1 && p.pings == 1; }));
    fake::ReleaseScans();
    Pass(ArrivedFiles::kLookEveryMs * 2);
    const Paths scans = ScannedFiles();
    EXPECT_NE(std::find(scans.begin(), scans.end(), "C:\\ProgramData\\after.exe"), scans.end());
    EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("clamdscan did not end within 125 s"), std::string::npos);
    Pass(1000);
    EXPECT_EQ(ScannedFiles().back(), "C:\\ProgramData\\hangs.exe") << "tried again alone";
}

// A call of several that found something is told file by file from what
// the client printed: the file it reported found is recorded; one it
// reported failed, or did not report, was not scanned and goes again; when
// what it printed was not kept, a file that left its place is taken for
// the detection, and the others go again alone.
TEST_F(ScannerStageTest, ACallThatFoundSomethingIsToldFileByFile)
{
    for (bool kept : {true, false}) {
        SCOPED_TRACE(kept ? "what it printed was kept" : "what it printed was lost");
        TearDown();
        SetUp();
        fake::SetOutputKept(kept);
        fake::SetInfectedFiles({L"v.exe"});
        fake::SetUnreadableFiles({L"e.exe"});
        fake::SetScanExitCodes({1, 0});
        for (const std::string name : {"v.exe", "e.exe", "c.exe"}) {
            Put(name);
            stage->Submit(std::u16string(name.begin(), name.end()), kSince, 0);
        }
        fake::HoldScans();
        stage->StartReady(0);
        fake::EraseTreeEntry(L"C:\\ProgramData\\v.exe"); // moved to the vault
        fake::ReleaseScans();
        Finish(0);
        RunDue(0);
        const auto calls = fake::ScannedPaths();
        const Paths e{"C:\\ProgramData\\e.exe"}, c{"C:\\ProgramData\\c.exe"};
        EXPECT_EQ(calls, kept ? (std::vector<Paths>{{"C:\\ProgramData\\v.exe", e[0], c[0]}, e})
                              : (std::vector<Paths>{{"C:\\ProgramData\\v.exe", e[0], c[0]}, e, c}));
        EXPECT_EQ(LogBytes(L"SuccessScanLogs.txt"),
                  Entry("PELMON: 2025-08-18 14:13:20 UTC: clamdscan found a threat in \"C:\\ProgramData\\v.exe\" "
                        "and moved it to the quarantine folder \"C:\\ProgramData\\Pelorin\\Vault\"."));
        EXPECT_TRUE(stage->HasWaiting()) << "e.exe waits to be tried alone again";
    }
}
