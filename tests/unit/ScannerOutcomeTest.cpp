// A scan that could not run is not a scan: the scanner's answer decides,
// files it failed for wait and are tried again with a growing interval,
// and an outage is reported once at each end.
#include "tests/unit/WatchersFixture.h"
#include "watch/ScannerStage.h"
#include "watch/WaitingFiles.h"

namespace {

const std::string kFailed = "In StartScan: clamdscan failed with exit status 2 for \"C:\\ProgramData\\a.exe\"; "
                            "new files wait and are tried again while it fails.";

// The stage alone, driven with explicit times: nothing waits for real.
class ScannerStageTest : public PlatformTest {
protected:
    // Starts the file as the loop would: a due retry first, else a new one.
    void Submit(const std::string& name, uint64_t nowMs)
    {
        const std::u16string units(name.begin(), name.end());
        fake::SetTreeEntry(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), fake::TreeEntry{});
        stage.Submit(units, wxString(name), nowMs);
        stage.StartReady(nowMs);
        Finish(nowMs);
    }

    // Lets the running scan end and reads its answer.
    void Finish(uint64_t nowMs)
    {
        if (!stage.Running())
            return;
        ASSERT_TRUE(fake::WaitUntil([](const fake::Platform&) { return true; }));
        for (int i = 0; i < 1000 && !platform::ProcessExited(stage.Running()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stage.Poll(nowMs, 0);
        ASSERT_TRUE(stage.Idle());
    }

    // A due retry, or, once the scanner works, the call for what waited.
    bool Retry(uint64_t nowMs)
    {
        const bool started = stage.StartDueRetry(nowMs);
        if (started && stage.Idle() && stage.HasReady())
            stage.StartReady(nowMs);
        Finish(nowMs);
        return started;
    }

    const std::wstring programData = L"C:\\ProgramData";
    ScannerStage stage{programData, programData, 1 << 20};
};

} // namespace

TEST_F(ScannerStageTest, OnlyExitStatusZeroOrOneIsAScanAndADetectionIsRecorded)
{
    const struct {
        std::vector<uint32_t> codes;
        bool scannerFound;
        bool scanned;
        const char* how;
    } cases[] = {
        {{0}, true, true, nullptr},
        {{1}, true, true, nullptr},
        {{2}, true, false, "clamdscan failed with exit status 2"},
        {{0xC0000005}, true, false, "clamdscan failed with exit status 0xC0000005"},
        {{0}, false, false, "clamdscan could not be started"},
    };
    uint64_t now = 1000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how ? c.how : "scanned");
        std::filesystem::remove(ProductFolder() / "ErrorFunctionLogs.txt");
        fake::SetScanExitCodes(c.codes);
        fake::SetScannerFound(c.scannerFound);
        Submit("a.exe", now);
        EXPECT_EQ(stage.HasWaiting(), !c.scanned);
        if (c.how)
            EXPECT_NE(LogBytes(L"ErrorFunctionLogs.txt").find(std::string(c.how) + " for \"C:\\ProgramData\\a.exe\""),
                      std::string::npos);
        else
            EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt"));
        // Back to a working scanner: the waiting file is scanned at its turn.
        fake::SetScanExitCodes({0});
        fake::SetScannerFound(true);
        now += WaitingFiles::kFirstIntervalMs;
        EXPECT_EQ(Retry(now), !c.scanned);
        EXPECT_FALSE(stage.HasWaiting());
        now += 1000;
    }
    // exit 1: found and moved, recorded once with its time.
    EXPECT_EQ(LogBytes(L"SuccessScanLogs.txt"),
              Entry("PELMON: 2025-08-18 14:13:20 UTC: clamdscan found a threat in \"C:\\ProgramData\\a.exe\" "
                    "and moved it to the quarantine folder \"C:\\ProgramData\\Pelorin\\Vault\"."));
}

TEST_F(ScannerStageTest, WhileItFailsOnlyTheOldestIsTriedAtIntervalsDoublingToThirtySeconds)
{
    fake::SetScanExitCodes({2});
    Submit("a.exe", 0);
    uint64_t now = 0;
    std::vector<uint64_t> tries;
    for (uint64_t interval : {1000, 2000, 4000, 8000, 16000, 30000, 30000}) {
        EXPECT_FALSE(Retry(now + interval - 1)) << "tried early";
        now += interval;
        EXPECT_TRUE(Retry(now));
    }
    EXPECT_EQ(fake::ScanArguments().size(), 8u);
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"), Entry(kFailed)) << "said once";

    // Gone by its next turn: dropped, and nothing is tried.
    fake::EraseTreeEntry(L"C:\\ProgramData\\a.exe");
    EXPECT_FALSE(Retry(now + 30000));
    EXPECT_FALSE(stage.HasWaiting());
}

TEST_F(ScannerStageTest, AFailedScanOfAFileThatIsGoneIsNoOutage)
{
    fake::SetScanExitCodes({2});
    fake::SetTreeEntry(L"C:\\ProgramData\\.clamav-unlink-x", fake::TreeEntry{});
    stage.Submit(u".clamav-unlink-x", wxS(".clamav-unlink-x"), 0);
    stage.StartReady(0);
    fake::EraseTreeEntry(L"C:\\ProgramData\\.clamav-unlink-x"); // gone while it was scanned
    Finish(0);
    EXPECT_FALSE(stage.HasWaiting());
    EXPECT_FALSE(stage.Failing());
    EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt"));
}

// A call waits for more files only a little: a file that arrives amid a
// flood of names the filters turn away is not held until all are offered.
TEST_F(ScannerStageTest, ACallIsDueWhenFullOrOnceItsFirstFileHasWaited)
{
    const auto submit = [this](int count, uint64_t nowMs) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "d" + std::to_string(nowMs) + "-" + std::to_string(i) + ".exe";
            fake::SetTreeEntry(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), fake::TreeEntry{});
            stage.Submit(std::u16string(name.begin(), name.end()), wxString(name), nowMs);
        }
    };
    EXPECT_FALSE(stage.CallDue(0));
    submit(1, 1000);
    submit(62, 1100);
    EXPECT_FALSE(stage.CallDue(1000 + ScannerStage::kGatherMs - 1));
    EXPECT_TRUE(stage.CallDue(1000 + ScannerStage::kGatherMs));
    submit(1, 1200);
    EXPECT_TRUE(stage.CallDue(1200)); // full
    stage.StartReady(1200);
    Finish(1200);
    EXPECT_FALSE(stage.HasReady());
}

TEST_F(ScannerStageTest, ACallTakesAtMostSixtyFourFilesWithinThirtyThousandCharacters)
{
    const auto callSizes = [this](const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            fake::SetTreeEntry(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), fake::TreeEntry{});
            stage.Submit(std::u16string(name.begin(), name.end()), wxString(name), 0);
        }
        const std::size_t before = fake::ScannedPaths().size();
        while (stage.HasReady()) {
            stage.StartReady(0);
            Finish(0);
        }
        std::vector<std::size_t> sizes;
        const auto calls = fake::ScannedPaths();
        for (std::size_t i = before; i < calls.size(); ++i)
            sizes.push_back(calls[i].size());
        return sizes;
    };
    std::vector<std::string> backlog;
    for (int i = 0; i < 150; ++i)
        backlog.push_back("b" + std::to_string(1000 + i) + ".exe");
    EXPECT_EQ(callSizes(backlog), (std::vector<std::size_t>{64, 64, 22}));
    const auto calls = fake::ScannedPaths();
    Paths inOrder;
    for (const auto& call : calls)
        inOrder.insert(inOrder.end(), call.begin(), call.end());
    ASSERT_EQ(inOrder.size(), 150u);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(inOrder[i], "C:\\ProgramData\\b" + std::to_string(1000 + i) + ".exe");

    const std::vector<std::string> longNames{std::string(12000, 'x') + "1", std::string(12000, 'x') + "2",
                                             std::string(12000, 'x') + "3"};
    EXPECT_EQ(callSizes(longNames), (std::vector<std::size_t>{2, 1})) << "the command line stays short enough";
}

TEST(WaitingFilesTest, TheListIsBoundedInBytes)
{
    // Each file is charged twice 64 bytes plus 2 per unit: two of these fit.
    WaitingFiles waiting(2 * 2 * (64 + 2 * 5));
    EXPECT_TRUE(waiting.Failed({u"a.exe", wxS("a.exe")}, false, 0));
    EXPECT_TRUE(waiting.Queue({u"b.exe", wxS("b.exe")}));
    EXPECT_FALSE(waiting.Queue({u"c.exe", wxS("c.exe")}));
    WaitingFiles::File file;
    ASSERT_TRUE(waiting.TakeDue(1000, file));
    EXPECT_TRUE(waiting.Failed(std::move(file), true, 1000)) << "the one tried always goes back";
    EXPECT_EQ(waiting.Size(), 2u);
}

// The loop around it: new files stay queued while the scanner fails, and
// all are scanned in order of arrival once it works.
TEST_F(WatchersTest, FilesThatArriveDuringAnOutageAreScannedInOrderOnceItEnds)
{
    fake::SetScanExitCodes({2});
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

// A call of several that fails is split: each file alone, so the one the
// scanner fails for is found and waits; the others are scanned. Of a call
// that found something, the files that left their place are recorded.
TEST_F(WatchersTest, AFailedCallIsSplitAndOnlyTheFilesThatLeftAreRecordedAsFound)
{
    fake::HoldScans();
    DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch(AddedFiles("first", 1)));
    fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch(AddedFiles("s", 3)));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.takenBatches == 2 && p.parkedWaits == 2; }));
    fake::SetScanExitCodes({2, 0, 2, 0});
    fake::ReleaseScans();
    Pass();
    EXPECT_EQ(fake::ScannedPaths(), Calls({{"first", {0, 1}}, {"s", {0, 3}}, {"s", {0, 1}}, {"s", {1, 2}},
                                           {"s", {1, 2}}, {"s", {2, 3}}}));
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"),
              Entry("In StartScan: clamdscan failed with exit status 2 for \"C:\\ProgramData\\s1001.exe\"; "
                    "new files wait and are tried again while it fails.") +
                  Entry("PELMON: clamdscan scans again after 1 s; the 2 new files that waited are scanned now."));

    fake::HoldScans();
    fake::SetScanExitCodes({1});
    DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch(AddedFiles("v", 3)));
    fake::EraseTreeEntry(L"C:\\ProgramData\\v1001.exe"); // the scanner moved it
    fake::ReleaseScans();
    Pass();
    ASSERT_EQ(fake::ScannedPaths().back(), Calls({{"v", {0, 3}}}).front());
    const std::string found = LogBytes(L"SuccessScanLogs.txt");
    EXPECT_NE(found.find("found a threat in \"C:\\ProgramData\\v1001.exe\""), std::string::npos);
    EXPECT_EQ(found.find("v1000.exe"), std::string::npos);
    EXPECT_EQ(found.find("v1002.exe"), std::string::npos);
}
