// A restart loses nothing: the mark keeps back to the oldest file not yet
// dealt with, and the next start lists the tree from it.
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "tests/unit/WatchersFixture.h"
#include "watch/ProgressMark.h"
#include "watch/intake/PendingChanges.h"

namespace {

constexpr uint64_t kSecond = 1000 * fake::kTicksPerMillisecond;
constexpr uint64_t kHour = 3600 * kSecond;

std::filesystem::path MarkFile(const std::filesystem::path& product)
{
    return product / "WatchMarkAppData.txt";
}

} // namespace

TEST(ProgressMarkPlan, EachMarkReadGivesItsWindow)
{
    const platform::FileTime start = 134000000000000000;
    const platform::FileTime mark = start - 5 * kHour;
    const platform::FileTime untrusted = start - kUntrustedMarkSpan;
    const std::string good = std::to_string(mark);
    struct Case {
        const char* what;
        MarkState read;
        std::string text;
        MarkState state;
        bool catchUp;
        platform::FileTime from;
    };
    const Case cases[] = {
        {"first start", MarkState::Missing, "", MarkState::Missing, false, 0},
        {"as written", MarkState::Good, MarkText(mark), MarkState::Good, true, mark - kCatchUpMargin},
        {"LF alone", MarkState::Good, good + "\n", MarkState::Good, true, mark - kCatchUpMargin},
        {"no line break", MarkState::Good, good, MarkState::Good, true, mark - kCatchUpMargin},
        {"unreadable", MarkState::Unreadable, "", MarkState::Unreadable, true, untrusted},
        {"empty", MarkState::Good, "", MarkState::Malformed, true, untrusted},
        {"words", MarkState::Good, "yesterday\r\n", MarkState::Malformed, true, untrusted},
        {"sign", MarkState::Good, "-" + good, MarkState::Malformed, true, untrusted},
        {"blank before", MarkState::Good, " " + good, MarkState::Malformed, true, untrusted},
        {"two lines", MarkState::Good, good + "\r\n" + good + "\r\n", MarkState::Malformed, true, untrusted},
        {"cut short", MarkState::Good, good + "\r", MarkState::Malformed, true, untrusted},
        {"byte order mark", MarkState::Good, "\xEF\xBB\xBF" + good, MarkState::Malformed, true, untrusted},
        {"zero", MarkState::Good, "0\r\n", MarkState::Malformed, true, untrusted},
        {"beyond 64 bits", MarkState::Good, "18446744073709551616", MarkState::Malformed, true, untrusted},
        {"21 digits", MarkState::Good, "000000000000000000001", MarkState::Malformed, true, untrusted},
        {"a NUL inside", MarkState::Good, good.substr(0, 4) + std::string(1, '\0') + good.substr(4), MarkState::Malformed,
         true, untrusted},
        {"clock set back", MarkState::Good, std::to_string(start + kHour), MarkState::Future, true, untrusted},
        // Another monitor wrote it just after this one started.
        {"just after the start", MarkState::Good, std::to_string(start + kFutureTolerance), MarkState::Good, true,
         start - kCatchUpMargin},
    };
    for (const Case& c : cases) {
        const CatchUpPlan plan = PlanCatchUp(c.read, c.text, start);
        EXPECT_EQ(plan.state, c.state) << c.what;
        EXPECT_EQ(plan.catchUp, c.catchUp) << c.what;
        EXPECT_EQ(plan.from, c.from) << c.what;
    }
    // A clock near its origin does not wrap round.
    EXPECT_EQ(PlanCatchUp(MarkState::Unreadable, "", kSecond).from, 0u);
    EXPECT_EQ(PlanCatchUp(MarkState::Good, "1", kSecond).from, 0u);
}

// The mark as files are set aside, wait for the scanner, are scanned and
// given up.
TEST_F(WatchersTest, TheMarkStaysBeforeEveryFileNotYetDealtWith)
{
    const auto mark = [&] {
        std::ifstream in(MarkFile(ProductFolder()), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        platform::FileTime value = 0;
        EXPECT_TRUE(ParseMark(text, value)) << "no mark: \"" << text << "\"";
        return value;
    };
    const std::wstring root = L"C:\\ProgramData";
    ASSERT_GT(fake::ReplacedFiles(), 0) << "the first start writes a mark";
    // The last file dealt with is passed once a request issued after its
    // own has completed: until then its records could still be on the way.
    const auto nudge = [&] {
        for (int i = 0; i < 2; ++i) {
            fake::AdvanceClock(1000);
            Deliver(root, ChangeBatch({{Modified, u"elsewhere.dat"}}));
        }
        Pass(2000);
    };

    // Set aside: held.exe's writer is at work while quick.exe, after it, is
    // scanned; the mark stays before held.exe.
    fake::AdvanceClock(1000);
    const platform::FileTime heldAt = fake::FileTimeNow();
    fake::SetBeingWritten(root + L"\\held.exe", true);
    Deliver(root, ChangeBatch({{Added, u"held.exe"}}));
    fake::AdvanceClock(1000);
    Deliver(root, ChangeBatch({{Added, u"quick.exe"}}));
    Pass(2000);
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\quick.exe"});
    EXPECT_LT(mark(), heldAt);
    fake::SetBeingWritten(root + L"\\held.exe", false);
    Pass();
    Pass(ProgressMark::kWriteEveryMs);
    EXPECT_EQ(ScannedFiles().back(), "C:\\ProgramData\\held.exe");
    nudge();
    EXPECT_GT(mark(), heldAt);

    // Waiting: the scanner is out when waits.exe comes.
    fake::SetScanExitCodes({2});
    fake::SetPingExitCodes({21});
    fake::AdvanceClock(1000);
    const platform::FileTime waitsAt = fake::FileTimeNow();
    Deliver(root, ChangeBatch({{Added, u"waits.exe"}}));
    Pass(3000);
    ASSERT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("new files wait"), std::string::npos);
    EXPECT_LT(mark(), waitsAt);
    fake::SetScanExitCodes({0});
    Pass(6000);
    EXPECT_EQ(ScannedFiles().back(), "C:\\ProgramData\\waits.exe");
    nudge();
    EXPECT_GT(mark(), waitsAt);

    // Given up with an entry: locked.exe fails alone and is tried again
    // later; it holds nothing back.
    fake::SetUnreadableFiles({L"locked"});
    fake::SetPingExitCodes({0});
    fake::AdvanceClock(1000);
    const platform::FileTime lockedAt = fake::FileTimeNow();
    Deliver(root, ChangeBatch({{Added, u"locked.exe"}}));
    Pass(3000);
    ASSERT_NE(LogBytes(L"ErrorFunctionLogs.txt").find("locked.exe\", though it scans other files"), std::string::npos);
    nudge();
    EXPECT_GT(mark(), lockedAt);
}

// Writing the mark makes records in the watched tree; they move the mark
// but are no work, or each write would be followed by another for ever.
TEST_F(WatchersTest, TheMarksOwnWritesDoNotWriteItAgain)
{
    const std::wstring root = L"C:\\ProgramData";
    Pass(2000);
    // The first write's records call for two more writes at most.
    int written = 0;
    for (int i = 0; i < 6; ++i) {
        if (i == 3)
            written = fake::ReplacedFiles();
        fake::AdvanceClock(1000);
        Deliver(root, ChangeBatch({{Added, u"Pelorin\\WatchMarkAppData.txt.77.tmp"},
                                   {Modified, u"Pelorin\\WatchMarkAppData.txt.77.tmp"},
                                   {Removed, u"Pelorin\\WatchMarkAppData.txt"},
                                   {RenamedOld, u"Pelorin\\WatchMarkAppData.txt.77.tmp"},
                                   {RenamedNew, u"Pelorin\\WatchMarkAppData.txt"},
                                   {Added, u"Pelorin\\WatchMarkProfile.txt.78.tmp"}}));
        Pass(2000);
    }
    ASSERT_GT(written, 0);
    EXPECT_EQ(fake::ReplacedFiles(), written);
    // A name that only looks like one is work, and scanned.
    Deliver(root, ChangeBatch({{Added, u"Pelorin\\WatchMarkAppData.txt.exe"}}));
    Pass(2000);
    EXPECT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\Pelorin\\WatchMarkAppData.txt.exe"});
    EXPECT_GT(fake::ReplacedFiles(), written);
}

namespace {

// A monitor started over a product folder that a stopped one left.
class RestartTest : public PlatformTest {
protected:
    void TearDown() override
    {
        Stop();
        PlatformTest::TearDown();
    }

    void Start()
    {
        WriteFile(ProductFolder() / "db" / "db6", "Downloads\r\n");
        fake::SetServiceAnswers({fake::ServiceAnswer{}});
        monitor = std::thread([] { RunMonitor(); });
        ASSERT_TRUE(fake::WaitUntil([](const fake::Platform& p) { return p.parkedWaits == 2; }));
    }

    void Stop()
    {
        if (!monitor.joinable())
            return;
        fake::SetServiceAnswers({fake::ServiceAnswer{fake::ServiceAnswer::None, 0, 1}});
        monitor.join();
    }

    // A file of the program-data tree with these times.
    static void Put(const std::wstring& name, uint64_t created, uint64_t written, uint64_t changed,
                    bool directory = false)
    {
        fake::SetTreeEntry(L"C:\\ProgramData\\" + name, fake::TreeEntry{directory, false, created, written, changed});
    }

    std::thread monitor;
};

} // namespace

// The window from the mark to the start: what was created, written or
// moved in then is scanned, past the cache; what was there before is not,
// nor what was made and deleted meanwhile (it is not there to list).
TEST_F(RestartTest, WhatArrivedWhileNoMonitorRanIsScannedAtTheStart)
{
    const uint64_t now = fake::FileTimeNow();
    const uint64_t mark = now - kHour;
    const uint64_t before = mark - kHour;
    WriteFile(MarkFile(ProductFolder()), MarkText(mark));
    WriteFile(ProductFolder() / "WatchMarkProfile.txt", MarkText(mark));
    Put(L"before.exe", before, before, before);
    Put(L"just-before-the-mark.exe", mark - kSecond, mark - kSecond, mark - kSecond); // within the margin
    Put(L"made.exe", now - 60 * kSecond, now - 60 * kSecond, now - 60 * kSecond);
    Put(L"finished.exe", mark - 10 * kSecond, now - 30 * kSecond, now - 30 * kSecond); // open at the stop
    Put(L"moved-in.exe", before, before, now - 20 * kSecond);
    Put(L"skipped.txt", now - 60 * kSecond, now - 60 * kSecond, now - 60 * kSecond);
    Put(L"new-folder", now - 50 * kSecond, now - 50 * kSecond, now - 50 * kSecond, true);
    Put(L"new-folder\\inside.exe", now - 50 * kSecond, now - 50 * kSecond, now - 50 * kSecond);
    for (const wchar_t* folder : {L"C:\\users\\alice", L"C:\\users\\alice\\Downloads", L"C:\\users\\alice\\Music"})
        fake::SetTreeEntry(folder, fake::TreeEntry{true, false, before, before, before});
    fake::SetTreeEntry(L"C:\\users\\alice\\Downloads\\setup.exe",
                       fake::TreeEntry{false, false, now - kSecond, now - kSecond, now - kSecond});
    fake::SetTreeEntry(L"C:\\users\\alice\\Music\\song.exe",
                       fake::TreeEntry{false, false, now - kSecond, now - kSecond, now - kSecond});
    Start();
    Pass();
    Paths scanned = ScannedFiles();
    std::sort(scanned.begin(), scanned.end());
    EXPECT_EQ(scanned, (Paths{"C:\\ProgramData\\finished.exe", "C:\\ProgramData\\just-before-the-mark.exe",
                              "C:\\ProgramData\\made.exe", "C:\\ProgramData\\moved-in.exe",
                              "C:\\ProgramData\\new-folder\\inside.exe", "C:\\users\\alice\\Downloads\\setup.exe"}));
    EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt"));
    // The start's own mark is the start, less its slack: the next start does
    // not list this window again.
    std::ifstream in(MarkFile(ProductFolder()), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    platform::FileTime written = 0;
    ASSERT_TRUE(ParseMark(text, written));
    EXPECT_GT(written, now - kSecond);
}

// A first start catches nothing up; a mark that cannot be trusted costs
// one entry and a day's window.
TEST_F(RestartTest, AMissingMarkCatchesNothingUpAndABadOneADay)
{
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path&)> leave;
        const char* entry; // empty: none
        bool unwritable;   // nor can it be replaced
    };
    const uint64_t now = fake::FileTimeNow();
    const Case cases[] = {
        {"missing", [](const std::filesystem::path&) {}, "", false},
        {"malformed", [](const std::filesystem::path& file) { std::ofstream(file) << "garbage"; }, "holds no time",
         false},
        {"future", [&](const std::filesystem::path& file) { std::ofstream(file) << MarkText(now + kHour); },
         "lies in the future (the clock was set back)", false},
        {"a folder in its place", [](const std::filesystem::path& file) { std::filesystem::create_directory(file); },
         "cannot be read", true},
        {"a huge file in its place",
         [](const std::filesystem::path& file) { std::ofstream(file) << std::string(8 << 20, '1'); },
         "holds no time", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stop();
        fake::Reset(scratch);
        fake::ClearTree();
        std::filesystem::remove_all(ProductFolder() / "WatchMarkAppData.txt");
        std::filesystem::remove(ProductFolder() / "ErrorFunctionLogs.txt");
        c.leave(MarkFile(ProductFolder()));
        Put(L"yesterday.exe", now - 23 * kHour, now - 23 * kHour, now - 23 * kHour);
        Put(L"older.exe", now - 25 * kHour, now - 25 * kHour, now - 25 * kHour);
        Start();
        Pass();
        // The mark, the list and the fixture's files are small: a file read
        // whole in the mark's place would show here.
        EXPECT_LT(fake::BytesRead(), 4096u);
        const std::string log = LogBytes(L"ErrorFunctionLogs.txt");
        if (*c.entry) {
            EXPECT_EQ(ScannedFiles(), Paths{"C:\\ProgramData\\yesterday.exe"});
            const std::string path = "\"C:\\ProgramData\\Pelorin\\WatchMarkAppData.txt\"";
            EXPECT_EQ(log, Entry("In ReadFile: the progress mark " + path + " " + c.entry +
                                 "; the new files of the last 24 hours before the start are scanned.") +
                               (c.unwritable ? Entry("In MoveFileExW: the progress mark " + path +
                                                     " cannot be written: error 5; a restart scans again what "
                                                     "arrived since it was last written.")
                                             : ""));
        } else {
            EXPECT_TRUE(ScannedFiles().empty());
            EXPECT_EQ(fake::Listings(), 0);
            EXPECT_EQ(log, "");
        }
    }
}

// Once all is dealt with, the mark is written a quarter-second after the
// last write rather than a second: a stop right after a burst finds it past.
TEST_F(WatchersTest, TheMarkIsWrittenSoonOnceAllIsDealtWith)
{
    const std::wstring root = L"C:\\ProgramData";
    Pass(2000);
    Deliver(root, ChangeBatch({{Added, u"a.exe"}}));
    ASSERT_EQ(ScannedFiles().size(), 1u);
    const int afterA = fake::ReplacedFiles();
    Deliver(root, ChangeBatch({{Added, u"b.exe"}}));
    ASSERT_EQ(ScannedFiles().size(), 2u);
    EXPECT_EQ(fake::ReplacedFiles(), afterA + 1) << "written within " << ArrivedFiles::kLookEveryMs
                                                 << " ms of the last write";
}

// A disk that refuses the write is reported once; the watcher goes on.
TEST_F(WatchersTest, AMarkThatCannotBeWrittenIsReportedOnce)
{
    fake::FailReplaces(true);
    for (const char16_t* name : {u"a.exe", u"b.exe", u"c.exe"}) {
        Deliver(L"C:\\ProgramData", ChangeBatch({{Added, name}}));
        Pass(2000);
    }
    EXPECT_EQ(ScannedFiles().size(), 3u);
    const std::string entry = "In MoveFileExW: the progress mark \"C:\\ProgramData\\Pelorin\\WatchMarkAppData.txt\" "
                              "cannot be written: ";
    const std::string log = LogBytes(L"ErrorFunctionLogs.txt");
    ASSERT_NE(log.find(entry), std::string::npos);
    EXPECT_EQ(log.find(entry), log.rfind(entry));
}

// Names caught up at start give way to any that arrive meanwhile, each
// kind in its order, and all of them keep the mark back.
TEST(CaughtUpNames, GiveWayToTheOthers)
{
    PendingChanges queue(1 << 20);
    const auto push = [&](const char16_t* name, bool caughtUp, platform::FileTime since) {
        queue.Push(PendingChange{name, caughtUp ? Arrival::Recovered : Arrival::Added, false, since, caughtUp});
    };
    push(u"old1.exe", true, 10);
    push(u"old2.exe", true, 10);
    push(u"new1.exe", false, 500);
    EXPECT_EQ(queue.OldestSince(1000), 10u);
    EXPECT_EQ(queue.Next().name, u"new1.exe");
    std::vector<std::u16string> order;
    order.push_back(queue.Pop().name);
    push(u"new2.exe", false, 600);
    while (!queue.Empty())
        order.push_back(queue.Pop().name);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"new1.exe", u"new2.exe", u"old1.exe", u"old2.exe"}));
    EXPECT_EQ(queue.Bytes(), 0u);
    EXPECT_EQ(queue.OldestSince(1000), 1000u);
}

// Hundreds caught up at start do not hold up a file that arrives after
// it: it waits for the call after the running one at most (the test build
// bounds the files set aside to a few dozen; the product's bound on what
// is caught up at once is a call's worth, see RoomForCaughtUp).
TEST_F(RestartTest, AFileThatArrivesDuringTheCatchUpGoesBeforeIt)
{
    const uint64_t now = fake::FileTimeNow();
    WriteFile(MarkFile(ProductFolder()), MarkText(now - kHour));
    for (int i = 0; i < 500; ++i) {
        const uint64_t made = now - 60 * kSecond;
        Put(L"old" + std::to_wstring(1000 + i) + L".exe", made, made, made);
    }
    fake::HoldScans();
    Start();
    bool running = false;
    for (int step = 0; step < 40 && !running; ++step) {
        ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) {
            running = p.runningScans == 1;
            return p.parkedWaits == 2 && (running || Settled(p));
        }));
        if (!running)
            fake::AdvanceClock(ArrivedFiles::kLookEveryMs);
    }
    ASSERT_TRUE(running) << "no call of caught-up files started";
    const int taken = fake::TakenBatches();
    fake::DeliverBatch(L"C:\\ProgramData", ChangeBatch({{Added, u"fresh.exe"}}));
    ASSERT_TRUE(fake::WaitUntil([&](const fake::Platform& p) { return p.takenBatches > taken; }));
    fake::ReleaseScans();
    Pass();
    const auto calls = fake::ScannedPaths();
    std::size_t call = 0;
    while (call < calls.size() &&
           std::find(calls[call].begin(), calls[call].end(), "C:\\ProgramData\\fresh.exe") == calls[call].end())
        ++call;
    ASSERT_LT(call, calls.size()) << "fresh.exe was never scanned";
    EXPECT_LE(call, 2u) << "calls before it";
    EXPECT_EQ(ScannedFiles().size(), 501u);
}
