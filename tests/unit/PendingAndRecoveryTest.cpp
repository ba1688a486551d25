// Records are read while scans run, and what the system loses is found by
// listing the tree.
#include <algorithm>
#include <map>
#include <set>

#include "tests/unit/WatchersFixture.h"
#include "watch/WatcherState.h"

namespace {

const std::wstring kRoot = L"C:\\ProgramData";

std::string Path(const std::string& relative)
{
    return "C:\\ProgramData\\" + relative;
}

// An entry of the program-data tree with all three times at `time`, or a
// file that was made just now (the clock moves on a little).
void Put(const std::wstring& relative, uint64_t time, bool directory = false, bool reparse = false)
{
    fake::SetTreeEntry(kRoot + L"\\" + relative, fake::TreeEntry{directory, reparse, time, time, time});
}

void NewFile(const std::wstring& relative)
{
    Put(relative, fake::FileTimeNow());
    fake::AdvanceClock(1);
}

const WatchStats& Stats()
{
    return StateOf(WatcherKind::ProgramData).stats;
}

constexpr uint64_t kSecond = 1000 * fake::kTicksPerMillisecond;

std::u16string Units(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Hands the watcher a batch and waits until it has taken it in and issued
// its next request: it has read the clocks for both, and a test may move
// them on.
void DeliverAndTake(const std::vector<unsigned char>& batch)
{
    int taken = 0, issued = 0;
    fake::WaitUntil([&](const fake::Platform& p) {
        taken = p.takenBatches;
        issued = p.issuedRequests;
        return true;
    });
    fake::DeliverBatch(kRoot, batch);
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) {
        return p.takenBatches > taken && p.issuedRequests - p.takenBatches == issued - taken;
    }));
}

// A new file whose records the system loses; the clock moves on past it.
void LoseNewFile(const std::string& name)
{
    NewFile(Wide(name));
    DeliverAndTake({});
}

// A file whose record arrives; it was made an hour ago, so no window of
// lost time reaches it.
void DeliverOldFile(const std::string& name)
{
    Put(Wide(name), fake::FileTimeNow() - 3600 * kSecond);
    DeliverAndTake(ChangeBatch({{Added, Units(name)}}));
}

std::size_t ScansOf(const Paths& scans, const std::string& path)
{
    return static_cast<std::size_t>(std::count(scans.begin(), scans.end(), path));
}

} // namespace

TEST_F(WatchersTest, BatchesCompletingDuringAScanAreTakenInAndScannedAfterItInOrder)
{
    fake::HoldScans();
    DeliverAndStartScan(kRoot, ChangeBatch({{Added, u"a.exe"}}));
    const int taken = fake::TakenBatches();
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"b.exe"}, {Added, u"c.exe"}}));
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"d.exe"}}));
    // Both are read, and the next request is out, while a.exe's scan runs.
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) {
        return p.takenBatches == taken + 2 && p.parkedWaits == 2 && p.runningScans == 1;
    }));
    EXPECT_EQ(ScannedFiles().size(), 1u);

    fake::ReleaseScans();
    Pass();
    EXPECT_EQ(ScannedFiles(), (Paths{Path("a.exe"), Path("b.exe"), Path("c.exe"), Path("d.exe")}));
}

TEST_F(WatchersTest, LostRecordsAreRecoveredByListingTheTreeForTheirTimeOnly)
{
    const uint64_t second = 1000 * fake::kTicksPerMillisecond;
    const uint64_t before = fake::FileTimeNow() - 10 * second;
    Put(L"old.exe", before);
    Put(L"unreadable", before, true);
    fake::SetUnreadable(kRoot + L"\\unreadable");

    fake::HoldScans();
    fake::AdvanceClock(1000);
    NewFile(L"seen.exe");
    DeliverAndStartScan(kRoot, ChangeBatch({{Added, u"seen.exe"}}));

    // While seen.exe is scanned, entries arrive whose records the system
    // then loses.
    fake::AdvanceClock(1000);
    NewFile(L"missed.exe");
    Put(L"sub", fake::FileTimeNow(), true);
    NewFile(L"sub\\deeper.exe");
    Put(L"link", fake::FileTimeNow(), true, true);
    NewFile(L"link\\behind-a-junction.exe");
    NewFile(L"unreadable\\x.exe");
    const uint64_t now = fake::FileTimeNow();
    fake::SetTreeEntry(kRoot + L"\\written.exe", {false, false, before, now, before});
    fake::SetTreeEntry(kRoot + L"\\moved-in.exe", {false, false, before, before, now});
    fake::AdvanceClock(1000);
    fake::DeliverBatch(kRoot, {});
    // After the loss, records arrive again and are offered from there.
    fake::AdvanceClock(1000);
    NewFile(L"later.exe");
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"later.exe"}}));

    fake::ReleaseScans();
    Pass();
    // Files once they are quiet, in the order they were offered: the
    // recovered ones in path order, later.exe before or after them as its
    // record came before or after the pass that ran during the scan. The
    // new folders are not handed over: sub is listed, and deeper.exe, found
    // already, is not offered twice; the junction is not entered.
    Paths scans = ScannedFiles();
    ASSERT_EQ(ScansOf(scans, Path("later.exe")), 1u);
    scans.erase(std::find(scans.begin(), scans.end(), Path("later.exe")));
    EXPECT_EQ(scans, (Paths{Path("seen.exe"), Path("missed.exe"), Path("moved-in.exe"), Path("sub\\deeper.exe"),
                            Path("written.exe")}));
    // seen.exe and later.exe came with records: the recovery did not offer
    // them again (the recent-name cache alone would hide that).
    EXPECT_EQ(Stats().recovered, 6u);
    EXPECT_EQ(Stats().recoveryPasses, 1u);
}

TEST_F(WatchersTest, TheQueueBoundIsHonouredAndWhatItRefusedIsRecovered)
{
    // The native tests bound the queue at 2048 bytes: about 22 such names.
    // While a scan runs, names are offered until the set-aside files' bound
    // (4096 bytes) is reached; the queue fills behind them.
    fake::HoldScans();
    NewFile(L"first.exe");
    DeliverAndStartScan(kRoot, ChangeBatch({{Added, u"first.exe"}}));
    std::set<std::string> expected{Path("first.exe")};
    for (int i = 0; i < 80; ++i) {
        const std::string name = "flood-" + std::to_string(100 + i) + ".exe";
        NewFile(std::wstring(name.begin(), name.end()));
        const int taken = fake::TakenBatches();
        fake::DeliverBatch(kRoot, ChangeBatch({{Added, std::u16string(name.begin(), name.end())}}));
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > taken; }));
        expected.insert(Path(name));
    }
    fake::AdvanceClock(1);
    fake::ReleaseScans();
    Pass();

    const Paths scans = ScannedFiles();
    EXPECT_EQ(std::set<std::string>(scans.begin(), scans.end()), expected);
    EXPECT_EQ(scans.size(), expected.size()) << "each scanned once";
    EXPECT_GE(Stats().losses, 1u);
    EXPECT_LE(Stats().peakPendingBytes, 2048u);
    EXPECT_GT(Stats().peakPendingBytes, 1800u) << "the queue was filled before it refused";
}

TEST_F(WatchersTest, LossesWidenOneWindowThatOneListingAnswers)
{
    // Between two losses two batches arrive, so that the lost times do not
    // adjoin. A pass begun before the later losses lists for its own span;
    // one more pass lists for what they added, however many they were.
    struct Case {
        const char* name;
        bool whileListing;
        uint64_t passes;
    };
    for (const Case& c : {Case{"while the scanner is out", false, 1},
                          Case{"while a pass lists", true, 2}}) {
        SCOPED_TRACE(c.name);
        const std::string tag = c.whileListing ? "listing" : "waiting";
        // Folders, to give the listing some steps.
        fake::ClearTree();
        for (int i = 0; i < 30; ++i)
            Put(L"dir" + std::to_wstring(i), fake::FileTimeNow() - 3600 * kSecond, true);
        const uint64_t passesBefore = Stats().recoveryPasses;
        const int listingsBefore = fake::Listings();
        if (c.whileListing) {
            // The pass cannot end before the test lets the first read end.
            fake::HoldFirstReads(true);
        } else {
            // While the scanner is out nothing new is taken on, and no pass
            // begins.
            fake::SetScanExitCodes({2});
            fake::SetPingExitCodes({21});
            NewFile(Wide("held-" + tag + ".exe"));
            Deliver(kRoot, ChangeBatch({{Added, Units("held-" + tag + ".exe")}}));
            Pass(ArrivedFiles::kLookEveryMs);
            ASSERT_GT(fake::Pings(), 0) << "the scanner was not found out";
        }
        std::vector<std::string> eligible;
        for (int loss = 0; loss < 3; ++loss) {
            fake::AdvanceClock(1000);
            const std::string lost = "lost-" + tag + "-" + std::to_string(loss) + ".exe";
            LoseNewFile(lost);
            eligible.push_back(Path(lost));
            if (c.whileListing && loss == 0)
                ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.listings > listingsBefore; }));
            for (int good = 0; loss < 2 && good < 2; ++good) {
                fake::AdvanceClock(1000);
                const std::string seen =
                    "seen-" + tag + "-" + std::to_string(loss) + std::to_string(good) + ".exe";
                NewFile(Wide(seen));
                DeliverAndTake(ChangeBatch({{Added, Units(seen)}}));
                eligible.push_back(Path(seen));
            }
        }
        ASSERT_EQ(Stats().recoveryPasses, passesBefore) << "a pass ended before the last loss";
        fake::HoldFirstReads(false);
        if (!c.whileListing) {
            fake::SetScanExitCodes({0});
            Pass();
        }
        ASSERT_TRUE(fake::WaitUntil(
            [&](const fake::Platform& p) { return Idle(p) && Stats().recoveryPasses > passesBefore; }));
        // A pass that follows another rests as long as that one listed.
        fake::AdvanceClock(60000);
        DeliverAndTake(ChangeBatch({{Removed, u"nothing.tmp"}}));
        Pass();

        EXPECT_EQ(Stats().recoveryPasses - passesBefore, c.passes);
        const Paths scans = ScannedFiles();
        for (const std::string& path : eligible)
            EXPECT_EQ(ScansOf(scans, path), 1u) << path;
    }
}

TEST_F(WatchersTest, RecoveryKeepsUpWhileNamesWaitInTheQueue)
{
    fake::HoldScans();
    NewFile(L"first.exe");
    DeliverAndStartScan(kRoot, ChangeBatch({{Added, u"first.exe"}}));
    fake::AdvanceClock(1000);
    LoseNewFile("lost.exe");
    std::vector<ChangeRecord> queued;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "q" + std::to_string(10 + i) + ".exe";
        NewFile(Wide(name));
        queued.push_back({Added, Units(name)});
    }
    DeliverAndTake(ChangeBatch(queued));

    fake::ReleaseScans();
    Pass();
    ASSERT_GT(fake::Listings(), 0);
    const Paths scans = ScannedFiles();
    ASSERT_EQ(scans.size(), 22u);
    EXPECT_EQ(ScansOf(scans, Path("lost.exe")), 1u);
    // The tree was listed to its end before the queue had been worked off.
    EXPECT_LT(fake::ScansAtLastListingBatch(), 1 + queued.size());
}

TEST_F(WatchersTest, AStopIsAnsweredBetweenTheBatchesOfABigFolder)
{
    constexpr int kEntries = 150000, kPerBatch = 1000;
    const uint64_t old = fake::FileTimeNow() - 60 * kSecond;
    std::map<std::wstring, fake::TreeEntry> big{{kRoot + L"\\big", {true, false, old, old, old}}};
    for (int i = 0; i < kEntries; ++i)
        big.emplace(kRoot + L"\\big\\f" + std::to_wstring(100000 + i) + L".tmp",
                    fake::TreeEntry{false, false, old, old, old});
    fake::SetTreeEntries(std::move(big));
    fake::SetListingBatch(kPerBatch);
    fake::SetListingDelay(20000); // three seconds for the whole folder
    fake::AdvanceClock(1);
    DeliverAndTake({});
    // The root's batch and its end, then two batches of the big folder.
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.listingBatches >= 4; }));
    ASSERT_EQ(fake::ParksMidListing(), 0);
    StopService();
    EXPECT_GE(fake::ParksMidListing(), 1) << "the watcher did not park inside the folder";
    EXPECT_LT(fake::ListingBatches(), kEntries / kPerBatch) << "the folder was read to its end";
}

TEST_F(WatchersTest, AFolderIsReadTheFirstTimeWhileTheWatcherWaitsWhereAStopCanReachIt)
{
    // Wine's first read of a folder returns only once it has read the whole
    // folder: meanwhile the watcher is parked, and takes records in.
    fake::HoldFirstReads(true);
    fake::AdvanceClock(1);
    LoseNewFile("lost.exe");
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.parksMidListing >= 1; }));
    NewFile(L"live.exe");
    Deliver(kRoot, ChangeBatch({{Added, u"live.exe"}}));
    EXPECT_EQ(ScannedFiles(), (Paths{Path("live.exe")}));
    EXPECT_EQ(fake::ListingBatches(), 0) << "a batch was read before the first read ended";

    fake::HoldFirstReads(false);
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.listingBatches > 0; }));
    Pass();
    EXPECT_EQ(ScannedFiles(), (Paths{Path("live.exe"), Path("lost.exe")}));
    EXPECT_EQ(Stats().recoveryPasses, 1u);
}

TEST_F(WatchersTest, LostTimeSurvivesTheWallClockBeingSetBack)
{
    // Set back by ten seconds, the wall clock stamps again times it stamped
    // before; the loss after it is recovered all the same.
    enum Step { AfterAnEarlierRecovery, BeforeTheNewFile, AfterTheNewFile };
    const struct {
        const char* name;
        Step step;
    } cases[] = {{"set back after an earlier recovery", AfterAnEarlierRecovery},
                 {"set back between the last batch and the new file", BeforeTheNewFile},
                 {"set back between the new file and the loss", AfterTheNewFile}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = std::to_string(c.step);
        fake::AdvanceClock(60000); // past what earlier cases left in the tree
        if (c.step == AfterAnEarlierRecovery) {
            LoseNewFile("earlier-" + tag + ".exe");
            Pass();
            ASSERT_GT(fake::Listings(), 0);
            fake::StepWallClockBack(10000);
        }
        fake::AdvanceClock(1000);
        DeliverOldFile("old-" + tag + ".exe");
        fake::AdvanceClock(1000);
        if (c.step == BeforeTheNewFile)
            fake::StepWallClockBack(10000);
        NewFile(Wide("new-" + tag + ".exe"));
        if (c.step == AfterTheNewFile)
            fake::StepWallClockBack(10000);
        const uint64_t passes = Stats().recoveryPasses;
        DeliverAndTake({});
        Pass();
        ASSERT_GT(Stats().recoveryPasses, passes);

        const Paths scans = ScannedFiles();
        EXPECT_EQ(ScansOf(scans, Path("new-" + tag + ".exe")), 1u);
        EXPECT_EQ(ScansOf(scans, Path("old-" + tag + ".exe")), 1u);
    }
}

TEST_F(WatchersTest, AnEntryChangedInLostTimeIsScannedThoughTheCacheHoldsItsName)
{
    // A download renamed over a placeholder scanned before, while records
    // were lost. The placeholder's name was taken in long before, or by
    // the last batch before the loss: either way it has changed since.
    for (const bool takenLongBefore : {true, false}) {
        SCOPED_TRACE(takenLongBefore ? "placeholder taken in long before" : "placeholder taken in just before");
        const std::string name = takenLongBefore ? "setup-1.exe" : "setup-2.exe";
        NewFile(Wide(name));
        const uint64_t placed = fake::FileTimeNow();
        DeliverAndTake(ChangeBatch({{Added, Units(name)}}));
        Pass(); // the placeholder is scanned
        if (takenLongBefore) {
            fake::AdvanceClock(1000);
            DeliverOldFile("other.exe");
        }
        fake::AdvanceClock(1000);
        fake::SetTreeEntry(kRoot + L"\\" + Wide(name), {false, false, placed, placed, fake::FileTimeNow()});
        fake::AdvanceClock(1);
        const uint64_t passes = Stats().recoveryPasses;
        DeliverAndTake({});
        Pass();
        ASSERT_GT(Stats().recoveryPasses, passes);
        EXPECT_EQ(ScansOf(ScannedFiles(), Path(name)), 2u);
    }
}

TEST_F(WatchersTest, AFolderThatWasThereBeforeTheLossAndWasOnlyGivenChildrenIsNotOfferedAgain)
{
    // A folder's own times move when it is given children. New in the lost
    // time is a folder created then, or moved in then (its change time
    // moved, its last write did not); Wine reports the last write as the
    // creation time, so an entry older than the window inside a folder
    // shows that the folder was there before. A new folder is listed: an
    // old file moved in with it is offered too.
    struct Case {
        const char* folder;
        bool createdBefore, writtenBefore, changedBefore;
        bool olderChild; // an entry in it with all times before the window
        bool offered;
    };
    const Case cases[] = {
        {"given-children", true, false, false, false, false},
        {"given-children-wine", false, false, false, true, false},
        {"moved-in", true, true, false, true, true},
        {"new", false, false, false, false, true},
    };
    const uint64_t before = fake::FileTimeNow() - 60 * kSecond;
    fake::AdvanceClock(1000);
    const uint64_t inside = fake::FileTimeNow();
    std::set<std::string> expected;
    for (const Case& c : cases) {
        const std::wstring folder = Wide(c.folder);
        fake::SetTreeEntry(kRoot + L"\\" + folder,
                           {true, false, c.createdBefore ? before : inside, c.writtenBefore ? before : inside,
                            c.changedBefore ? before : inside});
        if (c.olderChild)
            Put(folder + L"\\older.exe", before);
        Put(folder + L"\\child.exe", inside);
        expected.insert(Path(std::string(c.folder) + "\\child.exe"));
        if (c.offered && c.olderChild)
            expected.insert(Path(std::string(c.folder) + "\\older.exe"));
    }
    fake::AdvanceClock(1);
    DeliverAndTake({});
    Pass();
    ASSERT_GT(fake::Listings(), 0);
    const Paths scans = ScannedFiles();
    EXPECT_EQ(std::set<std::string>(scans.begin(), scans.end()), expected);
    EXPECT_EQ(scans.size(), expected.size());
}

// A flood of names that no filter admits, between two losses, is not
// remembered as taken, so the bound on taken names (8 KiB in these tests,
// about 60 such names) forgets none of the few files that are scanned:
// seen.exe came by its record inside the lost time, and the pass for that
// time does not hand it back for a second scan.
TEST_F(WatchersTest, NamesNoFilterAdmitsDoNotCrowdOutTheNamesTakenInAWindow)
{
    fake::HoldFirstReads(true);
    const int listingsBefore = fake::Listings();
    const uint64_t lossesBefore = Stats().losses;
    fake::AdvanceClock(1000);
    LoseNewFile("lost-1.exe");
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.listings > listingsBefore; }));
    fake::AdvanceClock(1000);
    NewFile(L"seen.exe");
    DeliverAndTake(ChangeBatch({{Added, u"seen.exe"}}));
    // Batches the queue holds whole, each offered before the next comes.
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<ChangeRecord> noise;
        for (int i = 0; i < 15; ++i) {
            const std::string name = "noise-" + std::to_string(1000 + batch * 15 + i) + ".tmp";
            NewFile(Wide(name));
            noise.push_back({Added, Units(name)});
        }
        DeliverAndTake(ChangeBatch(noise));
        Pass(0);
    }
    fake::AdvanceClock(1000);
    LoseNewFile("lost-2.exe");
    fake::HoldFirstReads(false);
    Pass();
    fake::AdvanceClock(60000); // the second pass rests first
    DeliverAndTake(ChangeBatch({{Removed, u"nothing.tmp"}}));
    Pass();

    ASSERT_EQ(Stats().losses - lossesBefore, 2u) << "the queue refused a batch of noise";
    ASSERT_GE(Stats().recoveryPasses, 2u) << "no pass listed the time around seen.exe";
    const Paths scans = ScannedFiles();
    for (const char* name : {"seen.exe", "lost-1.exe", "lost-2.exe"})
        EXPECT_EQ(ScansOf(scans, Path(name)), 1u) << name;
    EXPECT_EQ(Stats().takenForgotten, 0u);
}
