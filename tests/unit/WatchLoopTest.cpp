#include <chrono>
#include <future>

#include "tests/unit/WatchersFixture.h"
#include "watch/intake/ChangeRecords.h"
#include "watch/names/Utf16.h"

namespace {

// "<action> <candidate>" for each record walked.
std::vector<std::wstring> Walk(const std::vector<unsigned char>& bytes, std::size_t limit)
{
    std::vector<std::wstring> walked;
    WalkChangeRecords(bytes.data(), std::min(limit, bytes.size()), [&](const ChangeRecord& record) {
        walked.push_back(std::to_wstring(record.action) + L" " +
                         WideOfUnits(record.name));
    });
    return walked;
}

} // namespace

TEST(ChangeRecordWalkTest, WalksEveryRecordInBufferOrder)
{
    const auto batch = ChangeBatch({{Added, u"b.exe"},
                                    {Removed, u"gone.exe"},
                                    {RenamedOld, u"old.exe"},
                                    {RenamedNew, u"new.exe"},
                                    {Added, u"a\\NewFolder"}});
    EXPECT_EQ(Walk(batch, batch.size()),
              (std::vector<std::wstring>{L"1 b.exe", L"2 gone.exe", L"4 old.exe", L"5 new.exe",
                                         L"1 a\\NewFolder"}));
}

TEST(ChangeRecordWalkTest, ReadsOnlyWhatTheSystemWrote)
{
    const auto batch = ChangeBatch({{Added, u"first.exe"}, {Added, u"second.exe"}});
    EXPECT_TRUE(Walk(batch, 0).empty()) << "an overflow delivers nothing";
    const std::size_t firstRecord = (12 + 9 * 2 + 3) & ~3u;
    EXPECT_EQ(Walk(batch, firstRecord), std::vector<std::wstring>{L"1 first.exe"});
    EXPECT_EQ(Walk(batch, firstRecord + 14), std::vector<std::wstring>{L"1 first.exe"})
        << "a record cut off by the end of the data is not read";

    // A name whose bytes also read as a record (added, "xy") at offset 12;
    // a next offset of 12 would start that record inside this one.
    const std::u16string name{0, 0, 1, 0, 4, 0, u'x', u'y'};
    auto overlapping = ChangeBatch({{Added, name}});
    overlapping[0] = 12;
    EXPECT_EQ(Walk(overlapping, overlapping.size()),
              std::vector<std::wstring>{L"1 " + std::wstring(name.begin(), name.end())});
}

TEST(ChangeRecordWalkTest, LongNamesConvertWhole)
{
    const std::u16string longName = u"deep\\" + std::u16string(600, u'x') + u".exe";
    const auto walked = Walk(ChangeBatch({{Added, longName}}), 1 << 16);
    ASSERT_EQ(walked.size(), 1u);
    EXPECT_EQ(walked[0], L"1 " + std::wstring(longName.begin(), longName.end()));
}

TEST_F(WatchersTest, ProfilesCandidatesPassListExtensionAndCacheInThatOrder)
{
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\setup.exe"},
                                       {Added, u"alice\\Downloads\\setup.exe"},
                                       {Modified, u"alice\\Downloads\\other.exe"},
                                       {Added, u"alice\\Desktop\\x.exe"},
                                       {Added, u"alice\\Downloads\\photo.jpg"},
                                       {Added, u"alice\\Downloads\\NewFolder"}}));
    EXPECT_EQ(ScannedFiles(), (Paths{"C:\\users\\alice\\Downloads\\setup.exe",
                                     "C:\\users\\alice\\Downloads\\NewFolder"}));
    EXPECT_FALSE(LogExists(L"ErrorWindowLogs.txt"));
}

TEST_F(WatchersTest, ProgramDataCandidatesNeedNoListSkipTheVaultAndTreesHaveTheirOwnCaches)
{
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"Pelorin\\Vault"},
                                             {Added, u"pelorin\\VAULT\\setup.exe"},
                                             {Added, u"Pelorin\\ErrorWindowLogs.txt"},
                                             {Added, u"Pelorin\\Vaults\\a.exe"},
                                             {Added, u"Downloads\\same.exe"}}));
    Deliver(L"C:\\users", ChangeBatch({{Added, u"Downloads\\same.exe"}}));
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"Downloads\\same.exe"}}));
    EXPECT_EQ(ScannedFiles(), (Paths{"C:\\ProgramData\\Pelorin\\Vaults\\a.exe",
                                     "C:\\ProgramData\\Downloads\\same.exe", "C:\\users\\Downloads\\same.exe"}));
}

// Names reach the list match, the vault test, the cache and the scanner as
// the file system holds them: no code page stands between.
TEST_F(WatchersTest, NamesArriveExactlyAsTheFileSystemHoldsThem)
{
    WriteFile(ProductFolder() / "db" / "db6", "Downloads\n\xd0\x97\xd0\xb0\xd0\xb3\xd1\x80\xd1\x83\xd0\xb7\xd0\xba\xd0\xb8\n");
    fake::SetShortPath(L"C:\\users\\a\\Downloads\\x\uFF02 --log=\uFF02C\uFF1A\uFF3Cpwned.exe",
                       L"C:\\users\\a\\DOWNLO~1\\XLOG_P~1.EXE");
    fake::SetShortPath(L"C:\\ProgramData\\Pelorin\uFF3CVault", L"C:\\ProgramData\\PELORI~1");
    Deliver(L"C:\\users",
            ChangeBatch({{Added, u"a\\Downloads\\x\uFF02 --log=\uFF02C\uFF1A\uFF3Cpwned.exe"},
                         // best-fit twins: each is its own file
                         {Added, u"a\\Downloads\\\u0101.exe"},
                         {Added, u"a\\Downloads\\\u0103.exe"},
                         {Added, u"a\\\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438\\b.exe"},
                         {Added, u"a\\Downloads\\ph\u043eto.jpg\u200b"}}));
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"Pelorin\uFF3CVault\\a.exe"},
                                             {Added, u"PELORIN\\vault\\b.exe"}}));
    // One call for the batch: a folder that stands for several files is
    // scanned once.
    EXPECT_EQ(ScannedFiles(), (Paths{"C:\\users\\a\\DOWNLO~1\\XLOG_P~1.EXE", "C:\\users\\a\\Downloads",
                                     "C:\\users\\a", "C:\\ProgramData\\PELORI~1"}));
}

// A record names a file as the program that made it opened it: by a short
// alias too, which the list line would miss.
TEST_F(WatchersTest, ShortAliasesInRecordsAreMadeLongBeforeTheFilters)
{
    fake::SetShortPath(L"C:\\users\\alice\\Downloads", L"C:\\users\\alice\\DOWNLO~1");
    fake::SetTreeEntry(L"C:\\users\\alice\\Downloads\\x.exe", fake::TreeEntry{});
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\DOWNLO~1\\x.exe"}}));
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\users\\alice\\Downloads\\x.exe"});
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\x.exe"}}));
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\users\\alice\\Downloads\\x.exe"}) << "one name in the cache";
}

TEST_F(WatchersTest, AFileGoneWhenItsTurnComesIsNotScannedNorRemembered)
{
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u".clamav-unlink-1.exe"},
                                             {Removed, u".clamav-unlink-1.exe"},
                                             {Added, u"x.exe"}, {RenamedOld, u"x.exe"}}));
    EXPECT_TRUE(ScannedFiles().empty());
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"x.exe"}}));
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\x.exe"})
        << "the name came back: a new file, not one scanned already";
}

TEST_F(WatchersTest, OverflowIsSkippedAndWatchingGoesOn)
{
    Deliver(L"C:\\users", {});
    Deliver(L"C:\\users", ChangeBatch({{Added, u"a\\Downloads\\after.exe"}}));
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\users\\a\\Downloads\\after.exe"});
}

TEST_F(WatchersTest, MissingListIsLoggedForEveryProfilesCandidate)
{
    std::filesystem::remove(ProductFolder() / "db" / "db6");
    Deliver(L"C:\\users", ChangeBatch({{Added, u"a\\Downloads\\x.exe"}, {Added, u"a\\b.jpg"}}));
    const std::string missing = Entry("Monitoring folder list file not found, please restart antivirus.");
    EXPECT_EQ(LogBytes(L"ErrorWindowLogs.txt"), missing + missing);
    EXPECT_TRUE(ScannedFiles().empty());
}

TEST_F(WatchersTest, StopDuringAScanDoesNotWaitForTheScanner)
{
    for (const bool workPending : {false, true}) {
        SCOPED_TRACE(workPending ? "with work pending" : "with nothing else to do");
        if (workPending) {
            TearDown();
            SetUp();
        }
        fake::HoldScans();
        DeliverAndStartScan(L"C:\\ProgramData", ChangeBatch({{Added, u"slow.exe"}}));
        // Work is pending for the scan's time: names to offer and look at, and
        // the next call to gather, as the stop comes.
        std::vector<ChangeRecord> more;
        if (workPending) {
            for (int i = 0; i < 300; ++i)
                more.push_back({Added, u"more-" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                           std::u16string(1, static_cast<char16_t>(u'a' + i / 26)) + u".exe"});
            fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch(more));
        }
        // The stop runs beside the test, so that a stop that waits for the
        // scanner fails here rather than hanging: the scan is held until the
        // test lets it go, after the stop had its chance to return.
        std::future<void> stop = std::async(std::launch::async, [this] { StopService(); });
        const bool returned = stop.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
        // What the doubles saw then; -1 fails below if it could not be read.
        int runningScans = -1;
        int parkedWaits = -1;
        fake::WaitUntil([&](const fake::Platform& p) {
            runningScans = p.runningScans;
            parkedWaits = p.parkedWaits;
            return true;
        });
        const int endedScans = fake::EndedScans();
        const std::size_t closed = fake::ClosedDirectories().size();
        fake::ReleaseScans();
        stop.wait();

        ASSERT_TRUE(returned) << "the stop waited for the scan to end";
        // The scan still ran when the stop returned: neither ended nor closed.
        EXPECT_EQ(runningScans, 1);
        EXPECT_EQ(endedScans, 0);
        // With nothing to do, both watchers were killed in their wait: neither
        // ever left it. One at work may also have ended by itself.
        if (!workPending)
            EXPECT_EQ(parkedWaits, 2);
        EXPECT_EQ(closed, 2u);
    }
}

TEST_F(WatchersTest, AWatcherThatRunsOutOfMemoryEndsAndIsStoppedWithoutDelay)
{
    fake::RunReadsOutOfMemory();
    fake::DeliverBatch(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\x.exe"}}));
    // The profiles watcher ended; the program-data watcher waits on.
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.takenBatches == 1 && p.parkedWaits == 1; }));
    StopService(); // hangs when the watcher never said it had finished
    EXPECT_EQ(fake::ClosedDirectories().size(), 2u);
}
