// Files are scanned once they have arrived: a name that arrives by a rename
// is offered, and a file still being written is set aside until its writer
// is done.
#include "tests/unit/WatchersFixture.h"

namespace {

const std::string kDownloads = "C:\\users\\alice\\Downloads\\";

std::wstring Downloaded(const std::string& name)
{
    const std::string path = kDownloads + name;
    return std::wstring(path.begin(), path.end());
}

// Moves the clock on and waits until the watchers have looked at their
// set-aside files again and are idle.
void AdvanceAndLook(uint64_t milliseconds)
{
    const int before = fake::ArrivalChecks();
    fake::AdvanceClock(milliseconds);
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.arrivalChecks > before && Idle(p); }));
}

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
    EXPECT_EQ(ScannedFiles(), (Paths{kDownloads + "setup.exe", kDownloads + "setup.exe"}));
}

TEST_F(WatchersTest, AFileStillBeingWrittenIsSetAsideAndScannedOnceAfterItsWriterClosedIt)
{
    fake::SetBeingWritten(Downloaded("big.exe"), true);
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\big.exe"},
                                       {Added, u"alice\\Downloads\\small.exe"}}));
    EXPECT_EQ(ScannedFiles(), Paths{kDownloads + "small.exe"});

    AdvanceAndLook(250);
    EXPECT_EQ(ScannedFiles().size(), 1u) << "scanned while still being written";

    // Closed while another scan runs: scanned once that scan is over.
    fake::HoldScans();
    fake::DeliverBatch(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\slow.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) {
        return p.runningScans == 1 && p.parkedWaits == 2;
    }));
    fake::SetBeingWritten(Downloaded("big.exe"), false);
    fake::AdvanceClock(1000);
    // A batch wakes the watcher while the look is overdue: until the scan
    // ends it can do nothing for the file, so it must wait again without a
    // time-out, or it would spin.
    const int taken = fake::TakenBatches();
    fake::DeliverBatch(L"C:\\users", ChangeBatch({{Modified, u"alice\\Downloads\\slow.exe"}}));
    EXPECT_TRUE(fake::WaitUntil([&](const fake::Platform& p) {
        return p.takenBatches > taken && p.parkedWaits == 2 && p.parkedWithTimeout == 0 && p.runningScans == 1;
    })) << "a wait during a scan had a time-out";

    fake::ReleaseScans();
    ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return Idle(p) && p.scanCommandLines.size() == 3; }));
    EXPECT_EQ(ScannedFiles(),
              (Paths{kDownloads + "small.exe", kDownloads + "slow.exe", kDownloads + "big.exe"}));
}

TEST_F(WatchersTest, SetAsideFilesWaitAMinuteAtMostAndAreDroppedWhenTheyDisappear)
{
    fake::SetBeingWritten(Downloaded("still.exe"), true);
    fake::SetBeingWritten(Downloaded("vanishing.exe"), true);
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\still.exe"},
                                       {Added, u"alice\\Downloads\\vanishing.exe"}}));
    fake::EraseTreeEntry(Downloaded("vanishing.exe"));
    AdvanceAndLook(59000);
    EXPECT_TRUE(ScannedFiles().empty());

    AdvanceAndLook(1000);
    EXPECT_EQ(ScannedFiles(), Paths{kDownloads + "still.exe"})
        << "a minute after it was set aside, a file is scanned whatever its state";
}

TEST_F(WatchersTest, BeyondTheSetAsideBoundFilesAreScannedAtOnce)
{
    for (int batch = 0; batch < 5; ++batch) {
        std::vector<ChangeRecord> records;
        for (int i = batch * 13; i < (batch + 1) * 13; ++i) {
            const std::string name = "w" + std::to_string(100 + i) + ".exe";
            fake::SetBeingWritten(L"C:\\ProgramData\\" + std::wstring(name.begin(), name.end()), true);
            records.push_back({Added, std::u16string(name.begin(), name.end())});
        }
        Deliver(L"C:\\ProgramData", ChangeBatch(records));
    }
    // 65 files: the first 64 wait for their writers, the last is scanned.
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\w164.exe"});
}
