// Records are read while scans run, and what the system loses is found by
// listing the tree.
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

// Hands the watcher a batch and waits until it has taken it in.
void DeliverAndTake(const std::vector<unsigned char>& batch)
{
    const int taken = fake::TakenBatches();
    fake::DeliverBatch(kRoot, batch);
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > taken; }));
}

} // namespace

TEST_F(WatchersTest, BatchesCompletingDuringAScanAreTakenInAndScannedAfterItInOrder)
{
    fake::HoldScans();
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"a.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.runningScans == 1; }));
    const int taken = fake::TakenBatches();
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"b.exe"}, {Added, u"c.exe"}}));
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"d.exe"}}));
    // Both are read, and the next request is out, while a.exe's scan runs.
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) {
        return p.takenBatches == taken + 2 && p.parkedWaits == 2 && p.runningScans == 1;
    }));
    EXPECT_EQ(ScannedFiles().size(), 1u);

    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil(Idle));
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
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"seen.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.runningScans == 1; }));

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
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return Idle(p) && p.listings > 0; }));
    EXPECT_EQ(ScannedFiles(), (Paths{Path("seen.exe"), Path("later.exe"), Path("link"), Path("missed.exe"),
                                     Path("moved-in.exe"), Path("sub"), Path("sub\\deeper.exe"),
                                     Path("written.exe")}));
    // seen.exe and later.exe came with records: the recovery did not offer
    // them again (the recent-name cache alone would hide that).
    EXPECT_EQ(Stats().recovered, 6u);
    EXPECT_EQ(Stats().recoveryPasses, 1u);
}

TEST_F(WatchersTest, TheQueueBoundIsHonouredAndWhatItRefusedIsRecovered)
{
    // The native tests bound the queue at 2048 bytes: about 22 such names.
    fake::HoldScans();
    NewFile(L"first.exe");
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"first.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.runningScans == 1; }));
    std::set<std::string> expected{Path("first.exe")};
    for (int i = 0; i < 40; ++i) {
        const std::string name = "flood-" + std::to_string(100 + i) + ".exe";
        NewFile(std::wstring(name.begin(), name.end()));
        const int taken = fake::TakenBatches();
        fake::DeliverBatch(kRoot, ChangeBatch({{Added, std::u16string(name.begin(), name.end())}}));
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > taken; }));
        expected.insert(Path(name));
    }
    fake::AdvanceClock(1);
    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return Idle(p) && p.listings > 0; }));

    const Paths scans = ScannedFiles();
    EXPECT_EQ(std::set<std::string>(scans.begin(), scans.end()), expected);
    EXPECT_EQ(scans.size(), expected.size()) << "each scanned once";
    EXPECT_GE(Stats().losses, 1u);
    EXPECT_LE(Stats().peakPendingBytes, 2048u);
    EXPECT_GT(Stats().peakPendingBytes, 1800u) << "the queue was filled before it refused";
}

TEST_F(WatchersTest, AStopIsAnsweredBetweenTheBatchesOfABigFolder)
{
    constexpr int kEntries = 150000, kPerBatch = 1000;
    const uint64_t old = fake::FileTimeNow() - 60 * kSecond;
    std::map<std::wstring, fake::TreeEntry> big{{kRoot + L"\\big", {true, false, old, old, old}}};
    for (int i = 0; i < kEntries; ++i)
        big.emplace(kRoot + L"\\big\\f" + std::to_wstring(100000 + i) + L".tmp", fake::TreeEntry{false, false, old, old, old});
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
