// Records are read while scans run, and what the system loses is found by
// listing the tree.
#include <set>

#include "tests/unit/WatchersFixture.h"
#include "watch/WatcherState.h"

namespace {

const std::wstring kRoot = L"C:\\ProgramData";

void Hold(bool hold)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    fake::State().holdScans = hold;
}

uint64_t Now()
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return fake::State().fileTime;
}

// An entry of the program-data tree with all three times at `time`, or a
// file that was made just now (the clock moves on a little).
void Put(const std::wstring& relative, uint64_t time, bool directory = false, bool reparse = false)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    fake::State().tree[kRoot + L"\\" + relative] = fake::TreeEntry{directory, reparse, time, time, time};
}

void NewFile(const std::wstring& relative)
{
    Put(relative, Now());
    fake::AdvanceClock(1);
}

const WatchStats& Stats()
{
    return StateOf(WatcherKind::ProgramData).stats;
}

} // namespace

TEST_F(WatchersTest, BatchesCompletingDuringAScanAreTakenInAndScannedAfterItInOrder)
{
    Hold(true);
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"a.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.runningScans == 1; }));
    const int taken = fake::State().takenBatches;
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"b.exe"}, {Added, u"c.exe"}}));
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"d.exe"}}));
    // Both are read, and the next request is out, while a.exe's scan runs.
    ASSERT_TRUE(fake::WaitUntil([&](fake::Platform& p) {
        return p.takenBatches == taken + 2 && p.parkedWaits == 2 && p.runningScans == 1;
    }));
    EXPECT_EQ(Scans().size(), 1u);

    Hold(false);
    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return Idle(p); }));
    EXPECT_EQ(Scans(), (std::vector<std::string>{Scan("C:\\ProgramData", "a.exe"),
                                                 Scan("C:\\ProgramData", "b.exe"),
                                                 Scan("C:\\ProgramData", "c.exe"),
                                                 Scan("C:\\ProgramData", "d.exe")}));
}

TEST_F(WatchersTest, LostRecordsAreRecoveredByListingTheTreeForTheirTimeOnly)
{
    const uint64_t second = 1000 * fake::kTicksPerMillisecond;
    Put(L"old.exe", Now() - 10 * second);
    Put(L"unreadable", Now() - 10 * second, true);
    fake::State().unreadableFolders.insert(kRoot + L"\\unreadable");

    Hold(true);
    fake::AdvanceClock(1000);
    NewFile(L"seen.exe");
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"seen.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.runningScans == 1; }));

    // While seen.exe is scanned, entries arrive whose records the system
    // then loses.
    fake::AdvanceClock(1000);
    NewFile(L"missed.exe");
    Put(L"sub", Now(), true);
    NewFile(L"sub\\deeper.exe");
    Put(L"link", Now(), true, true);
    NewFile(L"link\\behind-a-junction.exe");
    NewFile(L"unreadable\\x.exe");
    Put(L"written.exe", Now() - 10 * second);
    fake::State().tree[kRoot + L"\\written.exe"].written = Now();
    Put(L"moved-in.exe", Now() - 10 * second);
    fake::State().tree[kRoot + L"\\moved-in.exe"].changed = Now();
    fake::AdvanceClock(1000);
    fake::DeliverBatch(kRoot, {});
    // After the loss, records arrive again and are offered from there.
    fake::AdvanceClock(1000);
    NewFile(L"later.exe");
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"later.exe"}}));

    Hold(false);
    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return Idle(p) && p.listings > 0; }));
    EXPECT_EQ(Scans(), (std::vector<std::string>{Scan("C:\\ProgramData", "seen.exe"),
                                                 Scan("C:\\ProgramData", "later.exe"),
                                                 Scan("C:\\ProgramData", "link"),
                                                 Scan("C:\\ProgramData", "missed.exe"),
                                                 Scan("C:\\ProgramData", "moved-in.exe"),
                                                 Scan("C:\\ProgramData", "sub"),
                                                 Scan("C:\\ProgramData", "sub\\deeper.exe"),
                                                 Scan("C:\\ProgramData", "written.exe")}));
    // seen.exe and later.exe came with records: the recovery did not offer
    // them again (the recent-name cache alone would hide that).
    EXPECT_EQ(Stats().recovered, 6u);
    EXPECT_EQ(Stats().recoveryPasses, 1u);
}

TEST_F(WatchersTest, TheQueueBoundIsHonouredAndWhatItRefusedIsRecovered)
{
    // The native tests bound the queue at 2048 bytes: about 22 such names.
    Hold(true);
    NewFile(L"first.exe");
    fake::DeliverBatch(kRoot, ChangeBatch({{Added, u"first.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.runningScans == 1; }));
    std::set<std::string> expected{Scan("C:\\ProgramData", "first.exe")};
    for (int i = 0; i < 40; ++i) {
        const std::string name = "flood-" + std::to_string(100 + i) + ".exe";
        NewFile(std::wstring(name.begin(), name.end()));
        const int taken = fake::State().takenBatches;
        fake::DeliverBatch(kRoot, ChangeBatch({{Added, std::u16string(name.begin(), name.end())}}));
        ASSERT_TRUE(fake::WaitUntil([&](fake::Platform& p) { return p.takenBatches > taken; }));
        expected.insert(Scan("C:\\ProgramData", name));
    }
    fake::AdvanceClock(1);
    Hold(false);
    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return Idle(p) && p.listings > 0; }));

    const std::vector<std::string> scans = Scans();
    EXPECT_EQ(std::set<std::string>(scans.begin(), scans.end()), expected);
    EXPECT_EQ(scans.size(), expected.size()) << "each scanned once";
    EXPECT_GE(Stats().losses, 1u);
    EXPECT_LE(Stats().peakPendingBytes, 2048u);
    EXPECT_GT(Stats().peakPendingBytes, 1800u) << "the queue was filled before it refused";
}

TEST_F(WatchersTest, StopDuringARecoveryListingIsNotKeptWaiting)
{
    for (int i = 0; i < 200; ++i)
        Put(L"folder" + std::to_wstring(i), Now() - 1, true);
    fake::State().listingDelayMicroseconds = 5000; // a second for the whole tree
    fake::AdvanceClock(1);
    fake::DeliverBatch(kRoot, {});
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.listings > 3; }));
    StopService();
    EXPECT_LT(fake::State().listings, 100) << "the listing went on after the stop";
}
