#include <thread>

#include "supervisor/Supervisor.h"
#include "tests/unit/ChangeRecords.h"
#include "tests/unit/TestSupport.h"
#include "watch/WatchLoop.h"

namespace {

std::vector<std::wstring> Walk(const std::vector<unsigned char>& bytes, std::size_t limit)
{
    std::vector<std::wstring> offered;
    WalkChangeRecords(bytes.data(), std::min(limit, bytes.size()),
                      [&](const wxString& candidate) { offered.push_back(candidate.ToStdWstring()); });
    return offered;
}

std::string Scan(const std::string& root, const std::string& candidate)
{
    return "clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" \"" + root + "\\" +
           candidate + "\"";
}

} // namespace

TEST(ChangeRecordWalkTest, OffersAddedEntriesInBufferOrderAndPassesOverTheRest)
{
    const auto batch = ChangeBatch({{Added, u"b.exe"},
                                    {Removed, u"gone.exe"},
                                    {Modified, u"b.exe"},
                                    {RenamedOld, u"old.exe"},
                                    {RenamedNew, u"new.exe"},
                                    {Added, u"a\\NewFolder"},
                                    {Added, u"b.exe"}});
    EXPECT_EQ(Walk(batch, batch.size()),
              (std::vector<std::wstring>{L"b.exe", L"a\\NewFolder", L"b.exe"}));
}

TEST(ChangeRecordWalkTest, NamesMakeTheRoundTripThroughTheAnsiCodePage)
{
    const auto batch = ChangeBatch({{Added, u"\u0101b\u00e9\u4e2d.exe"}});
    // best fit for a-macron, e-acute exists, no best fit for U+4E2D
    EXPECT_EQ(Walk(batch, batch.size()), std::vector<std::wstring>{L"ab\u00e9?.exe"});
}

TEST(ChangeRecordWalkTest, ReadsOnlyWhatTheSystemWrote)
{
    const auto batch = ChangeBatch({{Added, u"first.exe"}, {Added, u"second.exe"}});
    EXPECT_TRUE(Walk(batch, 0).empty()) << "an overflow delivers nothing";
    const std::size_t firstRecord = (12 + 9 * 2 + 3) & ~3u;
    EXPECT_EQ(Walk(batch, firstRecord), std::vector<std::wstring>{L"first.exe"});
    EXPECT_EQ(Walk(batch, firstRecord + 14), std::vector<std::wstring>{L"first.exe"})
        << "a record cut off by the end of the data is not read";

    // A name whose bytes also read as a record (added, "xy") at offset 12;
    // a next offset of 12 would start that record inside this one.
    const std::u16string name{0, 0, 1, 0, 4, 0, u'x', u'y'};
    auto overlapping = ChangeBatch({{Added, name}});
    overlapping[0] = 12;
    EXPECT_EQ(Walk(overlapping, overlapping.size()),
              std::vector<std::wstring>{std::wstring(name.begin(), name.end())});
}

TEST(ChangeRecordWalkTest, LongNamesConvertWhole)
{
    const std::u16string longName = u"deep\\" + std::u16string(600, u'x') + u".exe";
    const auto offered = Walk(ChangeBatch({{Added, longName}}), 1 << 16);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].size(), longName.size());
}

// The whole road of an event through running watchers, with the service
// stopped at the end of each test.
class WatchersTest : public PlatformTest {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        WriteFile(ProductFolder() / "db" / "db6", "Downloads\r\n");
        monitor = std::thread([] { RunMonitor(); });
        ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.parkedWaits == 2; }));
    }

    void TearDown() override
    {
        {
            std::lock_guard<std::mutex> lock(fake::State().mutex);
            fake::State().serviceAnswers = {fake::ServiceAnswer{fake::ServiceAnswer::None, 0, 1}};
        }
        monitor.join();
        PlatformTest::TearDown();
    }

    // Delivers a batch and waits until the watcher is parked again.
    void Deliver(const std::wstring& root, const std::vector<unsigned char>& batch)
    {
        const int before = fake::State().completedWaits;
        fake::DeliverBatch(root, batch);
        ASSERT_TRUE(fake::WaitUntil(
            [&](fake::Platform& p) { return p.completedWaits > before && p.parkedWaits == 2; }));
    }

    std::vector<std::string> Scans()
    {
        std::lock_guard<std::mutex> lock(fake::State().mutex);
        return fake::State().scans;
    }

    std::thread monitor;
};

TEST_F(WatchersTest, ProfilesCandidatesPassListExtensionAndCacheInThatOrder)
{
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\setup.exe"},
                                       {Added, u"alice\\Downloads\\setup.exe"},
                                       {Modified, u"alice\\Downloads\\other.exe"},
                                       {Added, u"alice\\Desktop\\x.exe"},
                                       {Added, u"alice\\Downloads\\photo.jpg"},
                                       {Added, u"alice\\Downloads\\NewFolder"}}));
    EXPECT_EQ(Scans(), (std::vector<std::string>{Scan("C:\\users", "alice\\Downloads\\setup.exe"),
                                                 Scan("C:\\users", "alice\\Downloads\\NewFolder")}));
    EXPECT_FALSE(LogExists(L"ErrorWindowLogs.txt"));
}

TEST_F(WatchersTest, ProgramDataCandidatesNeedNoListAndTreesHaveTheirOwnCaches)
{
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"Pelorin\\Vault\\setup.exe"},
                                             {Added, u"Pelorin\\ErrorWindowLogs.txt"},
                                             {Added, u"Downloads\\same.exe"}}));
    Deliver(L"C:\\users", ChangeBatch({{Added, u"Downloads\\same.exe"}}));
    Deliver(L"C:\\ProgramData", ChangeBatch({{Added, u"Downloads\\same.exe"}}));
    EXPECT_EQ(Scans(), (std::vector<std::string>{
                           Scan("C:\\ProgramData", "Pelorin\\Vault\\setup.exe"),
                           Scan("C:\\ProgramData", "Downloads\\same.exe"),
                           Scan("C:\\users", "Downloads\\same.exe")}));
}

TEST_F(WatchersTest, OverflowIsSkippedAndWatchingGoesOn)
{
    Deliver(L"C:\\users", {});
    Deliver(L"C:\\users", ChangeBatch({{Added, u"a\\Downloads\\after.exe"}}));
    EXPECT_EQ(Scans(), std::vector<std::string>{Scan("C:\\users", "a\\Downloads\\after.exe")});
}

TEST_F(WatchersTest, MissingListIsLoggedForEveryProfilesCandidate)
{
    std::filesystem::remove(ProductFolder() / "db" / "db6");
    Deliver(L"C:\\users", ChangeBatch({{Added, u"a\\Downloads\\x.exe"}, {Added, u"a\\b.jpg"}}));
    const std::string missing = Entry("Monitoring folder list file not found, please restart antivirus.");
    EXPECT_EQ(LogBytes(L"ErrorWindowLogs.txt"), missing + missing);
    EXPECT_TRUE(Scans().empty());
}

TEST_F(WatchersTest, StopDuringAScanDoesNotWaitForTheScanner)
{
    fake::State().holdScans = true;
    fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch({{Added, u"slow.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([](fake::Platform& p) { return p.runningScans == 1; }));
    // TearDown stops the service; the watcher is killed while it waits.
}
