// A change to any file is new content: it is scanned once the file is
// quiet, whatever its age, through the same filters as a new file. The
// scans of one file are spaced out while it goes on changing, a file that
// never rests is scanned a few times an hour, and a new file is handed
// over before any rescan.
#include <algorithm>
#include <vector>

#include "tests/unit/DownloadsFolder.h"
#include "watch/RescanSpacing.h"

namespace {

// When each scan of `file` came, relative to `start`, noting new ones.
struct ScanTimes {
    std::string file;
    uint64_t start = fake::MillisecondsNow();
    std::vector<uint64_t> at;

    void Note()
    {
        const int scans = ScansByFile()[file];
        while (static_cast<int>(at.size()) < scans)
            at.push_back(fake::MillisecondsNow() - start);
    }
    // Lets `milliseconds` pass in steps of `step`, noting scans on the way.
    void Pass(uint64_t milliseconds, uint64_t step)
    {
        for (uint64_t passed = 0; passed < milliseconds; passed += step) {
            ::Pass(step);
            Note();
        }
    }
};

} // namespace

// The schedule itself: each scan of a run doubles the spacing (the quiet
// asked for at most 30 s, the rest counted from the last scan, up to 10
// minutes), a change not quiet is scanned 1, 1, 2, 4, 8 and then every 10
// minutes after it came; ten minutes without a change after a scan start
// the run over, and a read (the look found the last scan's content) leaves
// nothing overdue.
TEST(RescanSpacingTest, EachScanOfARunDoublesTheSpacingUntilTheFileRests)
{
    struct Level {
        unsigned scans;
        uint64_t quietMs, earliestAfterScanMs, overdueAfterChangeMs;
    };
    const Level levels[] = {
        {1, 500, 500, 60000},        {2, 1000, 1000, 120000},     {3, 2000, 2000, 240000},
        {4, 4000, 4000, 480000},     {5, 8000, 8000, 600000},     {7, 30000, 32000, 600000},
        {8, 30000, 64000, 600000},   {11, 30000, 512000, 600000}, {12, 30000, 600000, 600000},
        {64, 30000, 600000, 600000},
    };
    RescanSpacing spacing(60000, 600000);
    uint64_t now = 5000000;
    spacing.Changed(now);
    EXPECT_EQ(spacing.QuietMs(), 250u);
    EXPECT_EQ(spacing.EarliestMs(), 0u);
    EXPECT_EQ(spacing.OverdueAtMs(), now + 60000);
    std::size_t checked = 0;
    for (unsigned scans = 1; scans <= 64; ++scans) {
        now += 1000;
        spacing.Scanned(now);
        EXPECT_EQ(spacing.OverdueAtMs(), RescanSpacing::kNotDue) << "overdue with no change since the scan";
        spacing.Changed(now + 1);
        spacing.Changed(now + 2); // only the first change since the scan counts
        ASSERT_EQ(spacing.Scans(), scans);
        const Level* level = std::find_if(std::begin(levels), std::end(levels),
                                          [&](const Level& l) { return l.scans == scans; });
        if (level == std::end(levels))
            continue;
        SCOPED_TRACE(scans);
        ++checked;
        EXPECT_EQ(spacing.QuietMs(), level->quietMs);
        EXPECT_EQ(spacing.EarliestMs(), now + level->earliestAfterScanMs);
        EXPECT_EQ(spacing.OverdueAtMs(), std::max(now + 1 + level->overdueAfterChangeMs, spacing.EarliestMs()));
    }
    ASSERT_EQ(checked, std::size(levels));

    spacing.Unchanged();
    EXPECT_EQ(spacing.OverdueAtMs(), RescanSpacing::kNotDue) << "a read left a scan overdue";
    spacing.Changed(now + 599999);
    EXPECT_EQ(spacing.Scans(), 64u) << "started over before it had rested";
    spacing.Unchanged();
    spacing.Changed(now + 600000);
    EXPECT_EQ(spacing.Scans(), 0u) << "did not start over after a rest";
    EXPECT_EQ(spacing.QuietMs(), 250u);
    EXPECT_EQ(spacing.OverdueAtMs(), now + 600000 + 60000);
}

// Files written in parts with pauses between them, each part reported:
// one scan per pause until the quiet asked for outgrows the pauses, then one
// for the final content, which comes after the last write, and within the
// settling and the longest quiet of it.
TEST_F(WatchersTest, AFileWrittenInPausesCostsAFewScansAndItsFinalContentIsScanned)
{
    struct Case {
        int parts;
        uint64_t pauseMs;
        int scans;
    };
    const Case cases[] = {
        {5, 200, 1},    // one burst
        {22, 3000, 5},  // scans after parts 1 to 4, then the whole
        {40, 1500, 4},  // after parts 1 to 3, then the whole
        {6, 40000, 6},  // pauses longer than any quiet asked of the run
    };
    for (const Case& c : cases) {
        const std::string file = "p" + std::to_string(c.parts) + "x" + std::to_string(c.pauseMs) + ".exe";
        SCOPED_TRACE(file);
        ScanTimes scans{file};
        fake::WriteTo(Downloaded(file), 100);
        Record({{Added, Relative(file)}});
        for (int part = 1; part < c.parts; ++part) {
            scans.Pass(c.pauseMs, 50);
            Write(file, 100 * (part + 1));
        }
        const uint64_t lastWrite = fake::MillisecondsNow() - scans.start;
        scans.Pass(ArrivedFiles::kSettleMs + RescanSpacing::kLongestQuietMs, 50);
        EXPECT_EQ(static_cast<int>(scans.at.size()), c.scans);
        ASSERT_FALSE(scans.at.empty());
        EXPECT_GT(scans.at.back(), lastWrite) << "the final content was not scanned";
        scans.Pass(700000, 10000);
        EXPECT_EQ(static_cast<int>(scans.at.size()), c.scans) << "scanned again with nothing written";
    }
}

// A file there before the watch began, held open by its writer and written
// every 10 s for two hours, is never quiet: it is scanned a minute after
// its first change, then at growing spacings, and from then on every 10
// minutes. Once its writer is done, its final content is scanned within
// that spacing; after a rest of 10 minutes its spacing starts over.
TEST_F(WatchersTest, AFileThatNeverRestsIsScannedAFewTimesAnHourAndStartsOverAfterARest)
{
    const std::string file = "store.dat";
    fake::SetBeingWritten(Downloaded(file), true);
    ScanTimes scans{file};
    uint64_t size = 0;
    for (uint64_t t = 0; t < 7200000; t += 10000) {
        Write(file, size += 100);
        scans.Pass(10000, 10000);
    }
    ASSERT_FALSE(scans.at.empty());
    EXPECT_EQ(scans.at.front(), 60000u) << "not scanned a minute after its first change";
    for (std::size_t i = 1; i < scans.at.size(); ++i) {
        EXPECT_GE(scans.at[i] - scans.at[i - 1], 60000u) << "scan " << i;
        EXPECT_LE(scans.at[i] - scans.at[i - 1], 610000u) << "scan " << i;
    }
    const auto inHour = [&](uint64_t hour) {
        return std::count_if(scans.at.begin(), scans.at.end(),
                             [&](uint64_t at) { return at / 3600000 == hour; });
    };
    EXPECT_EQ(inHour(0), 9);
    EXPECT_EQ(inHour(1), 6) << "more than a few scans an hour once its spacing is long";

    const std::size_t whileWritten = scans.at.size();
    const uint64_t done = fake::MillisecondsNow() - scans.start;
    fake::SetBeingWritten(Downloaded(file), false);
    scans.Pass(610000, 1000);
    ASSERT_EQ(scans.at.size(), whileWritten + 1) << "its final content was not scanned once";
    EXPECT_LE(scans.at.back() - done, 610000u);

    scans.Pass(600000, 100000); // rested
    Write(file, size += 100);
    scans.Pass(ArrivedFiles::kSettleMs + RescanSpacing::kFirstQuietMs - 1, 1);
    EXPECT_EQ(scans.at.size(), whileWritten + 1);
    scans.Pass(1, 1);
    EXPECT_EQ(scans.at.size(), whileWritten + 2) << "its spacing did not start over after a rest";
}

// A file scanned before and changed, set aside before a new file, becomes
// due at the same moment as the new one: the new one is handed over first,
// in the same call.
TEST_F(WatchersTest, ANewFileIsHandedOverBeforeAnyRescan)
{
    fake::WriteTo(Downloaded("old.exe"), 10);
    Deliver(L"C:\\users", ChangeBatch({{Added, Relative("old.exe")}}));
    ASSERT_EQ(ScansByFile()["old.exe"], 1);
    // Its rescan is due 850 ms after the write: settling, then half a
    // second of quiet; the new file's scan a quarter second after it came.
    Write("old.exe", 20);
    Pass(ArrivedFiles::kSettleMs + RescanSpacing::kFirstQuietMs);
    fake::WriteTo(Downloaded("new.exe"), 10);
    Record({{Added, Relative("new.exe")}});
    Pass();
    const std::vector<std::vector<std::string>> calls = fake::ScannedPaths();
    ASSERT_EQ(calls.size(), 2u) << ::testing::PrintToString(calls);
    EXPECT_EQ(calls.back(), (std::vector<std::string>{kDownloads + "new.exe", kDownloads + "old.exe"}));
}

// A change reported for a file not held (there before the watch began)
// goes through the filters as a new file would: an excluded extension, a
// folder outside the list, the quarantine folder and a folder's own change
// are turned away, and a file changed in place is scanned once quiet,
// once however many records its writes made. Reading it then costs no scan.
TEST_F(WatchersTest, AChangeToAFileThereBeforeIsOfferedThroughTheFilters)
{
    for (const char* name : {"app.exe", "notes.txt"})
        fake::WriteTo(Downloaded(name), 10);
    fake::WriteTo(L"C:\\users\\alice\\Desktop\\tool.exe", 10);
    fake::WriteTo(L"C:\\ProgramData\\Pelorin\\Vault\\caught.exe", 10);
    fake::SetTreeEntry(L"C:\\users\\alice\\Downloads\\sub", fake::TreeEntry{true});
    Deliver(L"C:\\ProgramData", ChangeBatch({{Modified, u"Pelorin\\Vault\\caught.exe"}}));
    Record({{Modified, Relative("app.exe")},
            {Modified, Relative("app.exe")},
            {Modified, Relative("notes.txt")},
            {Modified, u"alice\\Desktop\\tool.exe"},
            {Modified, Relative("sub")}});
    Pass(ArrivedFiles::kSettleMs + RescanSpacing::kFirstQuietMs - 1);
    EXPECT_TRUE(ScannedFiles().empty()) << "scanned before it was quiet";
    Pass();
    EXPECT_EQ(ScannedFiles(), Paths{kDownloads + "app.exe"});

    Record({{Modified, Relative("app.exe")}});
    Pass();
    EXPECT_EQ(ScannedFiles().size(), 1u) << "scanned again for being read";
}
