// Files are scanned once they have arrived, whole: a name that arrives by a
// rename is offered, a new file is scanned once it is quiet, and what is
// written to it later is scanned again.
#include <map>

#include "tests/unit/DownloadsFolder.h"
#include "watch/RescanSpacing.h"
#include "watch/WatchLimits.h"
#include "watch/scan/ScannerStage.h"

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

// Files arrive together at 0 and change on a timeline; each is scanned the
// moment it has been quiet over two looks a quarter second apart, and not a
// millisecond before. Where looks cannot tell that a writer holds a file
// (under Wine), a file held open but not written to counts as quiet.
TEST_F(WatchersTest, QuietIsJudgedOverTwoLooks)
{
    for (const bool writersKnown : {true, false}) {
        SCOPED_TRACE(writersKnown ? "writers known" : "writers unknown");
        fake::SetWritersKnown(writersKnown);
        const std::string run = writersKnown ? "k-" : "u-";
        const auto name = [&](const char* file) { return run + file; };
        for (const char* file : {"whole.exe", "grows.exe", "touched.exe", "held.exe", "changed.exe", "gone.exe"})
            fake::WriteTo(Downloaded(name(file)), 100);
        fake::SetBeingWritten(Downloaded(name("held.exe")), true);
        std::vector<ChangeRecord> arrivals;
        for (const char* file : {"whole.exe", "grows.exe", "touched.exe", "held.exe", "changed.exe", "gone.exe"})
            arrivals.push_back({Added, Relative(name(file))});
        Record(arrivals);

        const std::map<uint64_t, std::function<void()>> events{
            // Seen by the next look only: no record says so.
            {100, [&] { fake::WriteTo(Downloaded(name("grows.exe")), 200); }},
            {110, [&] { fake::WriteTo(Downloaded(name("touched.exe")), 100); }},
            // Reported: the first of the two looks waits a while after it.
            {120, [&] { Write(name("changed.exe"), 300); }},
            {130, [&] { fake::EraseTreeEntry(Downloaded(name("gone.exe"))); }},
            {600, [&] { fake::SetBeingWritten(Downloaded(name("held.exe")), false); }},
        };
        const std::map<std::string, uint64_t> expected{
            {"whole.exe", 250},   {"grows.exe", 500},
            {"touched.exe", 500}, {"held.exe", writersKnown ? 1000u : 250u},
            {"changed.exe", 720},
        };
        std::map<std::string, uint64_t> scannedAt;
        std::size_t seen = ScannedFiles().size();
        for (uint64_t t = 1; t <= 1100; ++t) {
            Pass(1);
            const auto event = events.find(t);
            if (event != events.end())
                event->second();
            const Paths scans = ScannedFiles();
            for (; seen < scans.size(); ++seen)
                scannedAt.emplace(scans[seen].substr(kDownloads.size() + run.size()), t);
        }
        EXPECT_EQ(scannedAt, expected);
        EXPECT_EQ(ScannedFiles().size(), seen) << "a file was scanned twice";
    }
}

// A look that falls due while a scan runs is taken then: the file is found
// quiet during the call, no second call starts beside it, and the next call
// starts as the running one ends, with no look left to wait for.
TEST_F(WatchersTest, ALookDueDuringAScanIsTakenThenAndItsFileGoesInTheNextCall)
{
    fake::SetBeingWritten(Downloaded("big.exe"), true);
    Deliver(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\big.exe"}}));
    fake::HoldScans();
    DeliverAndStartScan(L"C:\\users", ChangeBatch({{Added, u"alice\\Downloads\\slow.exe"}}));
    fake::SetBeingWritten(Downloaded("big.exe"), false);
    const int looks = fake::ArrivalChecks();
    Pass(1000, true);
    EXPECT_GE(fake::ArrivalChecks(), looks + 2) << "big.exe was not looked at during the scan";
    EXPECT_EQ(ScannedFiles(), Paths{kDownloads + "slow.exe"});
    EXPECT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.runningScans == 1; }));

    fake::ReleaseScans();
    EXPECT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return Settled(p) && p.scanCommandLines.size() == 2; }))
        << "the next call waited for looks after the running one ended";
    EXPECT_EQ(ScannedFiles(), (Paths{kDownloads + "slow.exe", kDownloads + "big.exe"}));
}

// Files of one burst become ready one look after another: a call waits for
// a look due within moments rather than start with the first file and keep
// the next waiting for its whole length. Files that keep coming hold it up
// no longer than its first file's gather.
TEST_F(WatchersTest, FilesReadyMomentsApartShareACallAndAStreamHoldsItForItsGatherAtMost)
{
    fake::WriteTo(Downloaded("first.exe"), 10);
    Record({{Added, Relative("first.exe")}});
    Pass(10);
    fake::WriteTo(Downloaded("second.exe"), 10);
    Record({{Added, Relative("second.exe")}});
    Pass(ArrivedFiles::kLookEveryMs - 10);
    EXPECT_TRUE(ScannedFiles().empty()) << "the call started with the first file alone";
    Pass(10);
    EXPECT_EQ(fake::ScanCommandLines().size(), 1u);
    EXPECT_EQ(ScannedFiles(), (Paths{kDownloads + "first.exe", kDownloads + "second.exe"}));

    // A file every 15 ms: the call is held until its first file has waited
    // its gather, and then carries every file ready by then.
    const std::size_t before = ScannedFiles().size();
    uint64_t firstCallAt = 0;
    for (uint64_t t = 0; t < 800 && firstCallAt == 0; ++t) {
        if (t % 15 == 0) {
            const std::string name = "s" + std::to_string(t / 15) + ".exe";
            fake::WriteTo(Downloaded(name), 10);
            Record({{Added, Relative(name)}});
        }
        Pass(1);
        if (ScannedFiles().size() > before)
            firstCallAt = t + 1;
    }
    // No file arrives at 500: the gather's end itself wakes the watcher.
    EXPECT_EQ(firstCallAt, ArrivedFiles::kLookEveryMs + ScannerStage::kGatherMs);
    EXPECT_EQ(ScannedFiles().size() - before, 17u) << "not every file ready by then went in the call";
}

// What is written to a file after its scan is scanned once the writes
// stop: once per burst, however many records it made, and only when its
// size or last-write time moved (reading it, as the scanner does, makes
// records too). Its second scan asks for twice the quiet of its first. Age
// does not matter: content replaced long after a file arrived is new.
TEST_F(WatchersTest, FilesAreScannedAgainOncePerBurstOfWritesWhateverTheirAge)
{
    fake::WriteTo(Downloaded("app.exe"), 10);
    Deliver(L"C:\\users", ChangeBatch({{Added, Relative("app.exe")}}));
    ASSERT_EQ(ScansByFile()["app.exe"], 1);

    // A burst: three writes 300 ms apart, the file closed and reopened for
    // each. Scanned 850 ms after the last (settling, then half a second of
    // quiet), not before.
    for (uint64_t size : {20, 30, 40}) {
        Write("app.exe", size);
        Pass(300);
    }
    EXPECT_EQ(ScansByFile()["app.exe"], 1) << "scanned in the middle of a burst";
    Pass(549);
    EXPECT_EQ(ScansByFile()["app.exe"], 1);
    Pass(1);
    EXPECT_EQ(ScansByFile()["app.exe"], 2);

    // Read, not written.
    Record({{Modified, Relative("app.exe")}, {Modified, Relative("app.exe")}});
    Pass();
    EXPECT_EQ(ScansByFile()["app.exe"], 2) << "scanned again for being read";

    // Long after its arrival, written again: still new content.
    fake::AdvanceClock(3600000);
    Write("app.exe", 50);
    Pass();
    EXPECT_EQ(ScansByFile()["app.exe"], 3) << "an old file's new content was not scanned";
}

// A writer that never stops: its file is scanned a minute after it arrived
// all the same, stays set aside, and is scanned again once the writer is
// done, whether looks can tell the writer or only see the file grow.
TEST_F(WatchersTest, AWriterThatNeverStopsIsScannedAfterAMinuteAndAgainOnceItIsDone)
{
    for (const bool writersKnown : {true, false}) {
        SCOPED_TRACE(writersKnown ? "writers known" : "writers unknown");
        fake::SetWritersKnown(writersKnown);
        const std::string file = writersKnown ? "k-log.exe" : "u-log.exe";
        fake::SetBeingWritten(Downloaded(file), true);
        Record({{Added, Relative(file)}});
        uint64_t size = 0;
        for (uint64_t t = 200; t <= 90000; t += 200) {
            Write(file, size += 100);
            Pass(t == 60000 ? 199 : 200);
            if (t == 60000) {
                EXPECT_EQ(ScansByFile()[file], 0) << "scanned before the minute was over";
                Pass(1);
                EXPECT_EQ(ScansByFile()[file], 1) << "not scanned when the minute was over";
            }
        }
        EXPECT_EQ(ScansByFile()[file], 1) << "scanned again while it was written";
        fake::SetBeingWritten(Downloaded(file), false);
        // Its second scan asks for twice the quiet of its first.
        Pass(ArrivedFiles::kSettleMs + 2 * RescanSpacing::kFirstQuietMs);
        EXPECT_EQ(ScansByFile()[file], 2) << "not scanned once its writer was done";
        Pass();
        EXPECT_EQ(ScansByFile()[file], 2);
    }
}

// The set-aside files are bounded in bytes (4 KiB in this build: 18 names
// like these): a new file beyond the bound waits in the queue, in order,
// rather than being scanned half-written. Once the bound is reached, the
// files watched after their scan are forgotten oldest first: a forgotten
// file that is only read is scanned again, as nothing tells what its last
// scan saw; a remembered one is not.
TEST_F(WatchersTest, BeyondTheSetAsideBoundNewFilesWaitInOrder)
{
    constexpr int kFiles = 30;
    const auto name = [](int i) { return "w" + std::to_string(100 + i) + ".exe"; };
    ASSERT_GT(kFiles * ArrivedFiles::CostOf(Relative(name(0))), 4096u) << "the bound is not reached";
    Paths expected;
    for (int i = 0; i < kFiles; i += 6) {
        std::vector<ChangeRecord> batch; // each fits in the queue
        for (int j = i; j < i + 6; ++j) {
            fake::SetBeingWritten(Downloaded(name(j)), true);
            batch.push_back({Added, Relative(name(j))});
            expected.push_back(kDownloads + name(j));
        }
        Record(batch);
    }
    Pass(1000);
    EXPECT_TRUE(ScannedFiles().empty()) << "scanned while its writer was at work";

    for (int i = 0; i < kFiles; ++i)
        fake::SetBeingWritten(Downloaded(name(i)), false);
    Pass();
    EXPECT_EQ(ScannedFiles(), expected);

    Record({{Modified, Relative(name(0))}, {Modified, Relative(name(kFiles - 1))}});
    Pass();
    std::map<std::string, int> scans = ScansByFile();
    EXPECT_EQ(scans[name(0)], 2) << "the oldest watched file was not forgotten";
    EXPECT_EQ(scans[name(kFiles - 1)], 1);
}
