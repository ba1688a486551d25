// Files are scanned once they have arrived: a name that arrives by a rename
// is offered, and a file still being written is set aside until its writer
// is done.
#include "tests/unit/WatchersFixture.h"

namespace {

void Tree(const std::wstring& path, bool openForWriting)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    fake::State().tree[path].openForWriting = openForWriting;
}

void Remove(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    fake::State().tree.erase(path);
}

// Moves the clock on and waits until the watchers have looked at their
// set-aside files again and are idle.
void AdvanceAndLook(uint64_t milliseconds)
{
    const int before = fake::State().arrivalChecks;
    fake::AdvanceClock(milliseconds);
    ASSERT_TRUE(fake::WaitUntil([&](fake::Platform& p) {
        return p.arrivalChecks > before && p.parkedWaits == 2 && p.runningScans == 0;
    }));
}

const std::string kSetup = "alice\\Downloads\\setup.exe";

} // namespace

TEST_F(WatchersTest, RenamedNewNamesAreOfferedAndReadmittedPastTheCache)
{
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\setup.exe"}}));
    Deliver(L"C:\\users", ChangeBatch({{RenamedOld, u"alice\\Downloads\\Unconfirmed 1.crdownload"},
                                       {RenamedNew, u"alice\\Downloads\\setup.exe"},
                                       {Modified, u"alice\\Downloads\\setup.exe"},
                                       {Removed, u"alice\\Downloads\\old.exe"},
                                       {RenamedNew, u"alice\\Desktop\\unlisted.exe"},
                                       {RenamedNew, u"alice\\Downloads\\photo.jpg"}}));
    // Still in the cache: a plain addition of the name is not scanned again.
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\setup.exe"}}));
    EXPECT_EQ(Scans(), (std::vector<std::string>{Scan("C:\\users", kSetup), Scan("C:\\users", kSetup)}));
}

TEST_F(WatchersTest, AFileStillBeingWrittenIsSetAsideAndScannedOnceAfterItsWriterClosedIt)
{
    const std::wstring big = L"C:\\users\\alice\\Downloads\\big.exe";
    Tree(big, true);
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\big.exe"},
                                       {Added, u"alice\\Downloads\\small.exe"}}));
    EXPECT_EQ(Scans(), std::vector<std::string>{Scan("C:\\users", "alice\\Downloads\\small.exe")});

    AdvanceAndLook(250);
    EXPECT_EQ(Scans().size(), 1u) << "scanned while still being written";

    // Closed while another scan runs: looked at, and scanned, once that
    // scan is over; the watcher does not spin meanwhile.
    {
        std::lock_guard<std::mutex> lock(fake::State().mutex);
        fake::State().holdScans = true;
    }
    fake::DeliverBatch(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\slow.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.runningScans == 1 && p.parkedWaits == 2; }));
    Tree(big, false);
    fake::AdvanceClock(1000);
    const int waits = fake::State().waits;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(fake::State().waits - waits, 5) << "a wait with nothing to do returned again and again";
    {
        std::lock_guard<std::mutex> lock(fake::State().mutex);
        fake::State().holdScans = false;
    }
    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.scans.size() == 3 && Idle(p); }));
    EXPECT_EQ(Scans(), (std::vector<std::string>{Scan("C:\\users", "alice\\Downloads\\small.exe"),
                                                 Scan("C:\\users", "alice\\Downloads\\slow.exe"),
                                                 Scan("C:\\users", "alice\\Downloads\\big.exe")}));
}

TEST_F(WatchersTest, SetAsideFilesWaitAMinuteAtMostAndAreDroppedWhenTheyDisappear)
{
    const std::wstring still = L"C:\\users\\alice\\Downloads\\still.exe";
    const std::wstring vanishing = L"C:\\users\\alice\\Downloads\\vanishing.exe";
    Tree(still, true);
    Tree(vanishing, true);
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\still.exe"},
                                       {Added, u"alice\\Downloads\\vanishing.exe"}}));
    Remove(vanishing);
    AdvanceAndLook(59000);
    EXPECT_TRUE(Scans().empty());

    AdvanceAndLook(1000);
    EXPECT_EQ(Scans(), std::vector<std::string>{Scan("C:\\users", "alice\\Downloads\\still.exe")})
        << "a minute after it was set aside, a file is scanned whatever its state";
}

TEST_F(WatchersTest, BeyondTheSetAsideBoundFilesAreScannedAtOnce)
{
    for (int batch = 0; batch < 5; ++batch) {
        std::vector<ChangeRecord> records;
        for (int i = batch * 13; i < (batch + 1) * 13; ++i) {
            const std::string name = "w" + std::to_string(100 + i) + ".exe";
            Tree(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), true);
            records.push_back({Added, std::u16string(name.begin(), name.end())});
        }
        Deliver(L"C:\\ProgramData", ChangeBatch(records));
    }
    // 65 files: the first 64 wait for their writers, the last is scanned.
    EXPECT_EQ(Scans(), std::vector<std::string>{Scan("C:\\ProgramData", "w164.exe")});
}
