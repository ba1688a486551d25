#include <functional>
#include <thread>

#include "product/ProductLayout.h"
#include "tests/unit/TestSupport.h"
#include "watch/names/MonitoredFolderList.h"
#include "watch/names/ScanFilters.h"

namespace {
const std::string kMissingEntry = Entry("Monitoring folder list file not found, please restart antivirus.");
}

class MonitoredFolderListTest : public PlatformTest {
protected:
    void List(const std::string& bytes) { WriteFile(ProductFolder() / "db" / "db6", bytes); }
};

TEST_F(MonitoredFolderListTest, LinesMatchAsCaseSensitiveSubstrings)
{
    for (const char* list : {"Downloads", "Downloads\r\n", "Other\nDownloads\n"}) {
        SCOPED_TRACE(list);
        List(list);
        EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\setup.exe")));
        EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\downloads\\setup.exe")));
        EXPECT_TRUE(IsInMonitoredFolderList((u"bob\\MyDownloadsOld\\tool.exe")));
        EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Desktop\\setup.exe")));
    }
    List(" Downloads\nC:\\Users\\alice\\Downloads");
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\setup.exe")));
    EXPECT_FALSE(LogExists(kErrorWindowLogs));
}

// A stray line break made an empty line, which once admitted every file of
// the profiles tree; empty lines are passed over, the others still count.
TEST_F(MonitoredFolderListTest, AnEmptyLineAdmitsNothing)
{
    for (const char* list : {"Downloads\n\n", "Downloads\n\r", "Downloads\r\n\r\n", "\r\n",
                             "\nDownloads", "A\n\nDownloads"}) {
        List(list);
        EXPECT_FALSE(IsInMonitoredFolderList((u"x\\anything.exe"))) << testing::PrintToString(list);
        EXPECT_EQ(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")), std::string(list) != "\r\n")
            << testing::PrintToString(list);
    }
    List(" \n");
    EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\My Files\\a.exe"))) << "a line of blanks is no empty line";
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
}

TEST_F(MonitoredFolderListTest, FilesWithoutLinesAdmitNothingAndLogNothing)
{
    for (const std::string& list : {std::string(), std::string("\xEF\xBB\xBF"),
                                    std::string("\xFF\xFE"), std::string("\xEF\xBB\xBF" "\xE9")}) {
        List(list);
        EXPECT_FALSE(IsInMonitoredFolderList((u"a"))) << testing::PrintToString(list);
    }
    List("Downloads");
    fake::FailReads();
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\x.exe"))) << "unreadable file";
    EXPECT_FALSE(LogExists(kErrorWindowLogs));
}

TEST_F(MonitoredFolderListTest, MissingFileOrDirectoryLogsOncePerCall)
{
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\b.jpg")));
    EXPECT_EQ(LogBytes(kErrorWindowLogs), kMissingEntry + kMissingEntry);

    std::filesystem::create_directories(ProductFolder() / "db" / "db6");
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\c.exe")));
    EXPECT_EQ(LogBytes(kErrorWindowLogs), kMissingEntry + kMissingEntry + kMissingEntry);
}

TEST_F(MonitoredFolderListTest, ChangesTakeEffectAtTheNextCall)
{
    List("Desktop");
    EXPECT_FALSE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
    List("Downloads");
    EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
}

TEST_F(MonitoredFolderListTest, UnresolvableProgramDataUsesTheCurrentDrive)
{
    fake::SetProgramDataFound(false);
    WriteFile(scratch / "Pelorin" / "db" / "db6", "Downloads");
    // On a thread of its own, as a watcher's: a thread keeps the folder once
    // found, and until then asks at every call.
    std::thread([] {
        EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
        EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\b.exe")));
    }).join();
    EXPECT_EQ(fake::ProgramDataLookups(), 2);
    fake::SetProgramDataFound(true);
    List("Downloads");
    std::thread([] {
        EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
        EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\b.exe")));
    }).join();
    EXPECT_EQ(fake::ProgramDataLookups(), 3) << "found once, then kept";
}

// The list kept between tests: read again exactly when a change may have
// gone unseen, and never while a writer holds it.
class ListCacheTest : public MonitoredFolderListTest {
protected:
    using Answer = MonitoredFolderList::Answer;
    const std::wstring path = L"C:\\ProgramData\\Pelorin\\db\\db6";
    const std::u16string downloads = u"alice\\Downloads\\a.exe";
    static constexpr uint64_t kSecond = 1000 * fake::kTicksPerMillisecond;

    // The list holds `bytes`, last written `age` before now.
    void ListWritten(const std::string& bytes, uint64_t age)
    {
        List(bytes);
        fake::SetLastWrite(path, fake::FileTimeNow() - age);
    }
    MonitoredFolderList list;
};

TEST_F(ListCacheTest, AStampIsTrustedOnlyWellAfterItsTime)
{
    // Age of the list when it is read, and how many of two tests read it.
    const struct {
        uint64_t age;
        int reads;
    } rows[] = {{0, 2}, {2 * kSecond, 2}, {3 * kSecond, 2}, {3 * kSecond + 1, 1}, {3600 * kSecond, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.age);
        MonitoredFolderList fresh;
        ListWritten("Downloads\n", row.age);
        const int before = fake::FileReads();
        EXPECT_EQ(fresh.Test(path, downloads), Answer::Listed);
        EXPECT_EQ(fresh.Test(path, downloads), Answer::Listed);
        EXPECT_EQ(fake::FileReads() - before, row.reads);
    }
    // A time ahead of the clock (set back since) is never trusted.
    MonitoredFolderList ahead;
    List("Downloads\n");
    fake::SetLastWrite(path, fake::FileTimeNow() + 3600 * kSecond);
    const int before = fake::FileReads();
    ahead.Test(path, downloads);
    ahead.Test(path, downloads);
    EXPECT_EQ(fake::FileReads() - before, 2);
}

TEST_F(ListCacheTest, EveryKindOfChangeIsSeenAtTheNextTest)
{
    const std::filesystem::path db6 = ProductFolder() / "db" / "db6";
    const uint64_t old = fake::FileTimeNow() - 3600 * kSecond;
    // Each change leaves "Desktop" (7 bytes, read when it was old and so
    // trusted, or read within the tick of its writing) for a list that names
    // Downloads, or for no list at all.
    const struct {
        const char* change;
        uint64_t firstAge;
        std::function<void()> make;
        Answer after;
    } rows[] = {
        {"the same size in the same tick as the read", 0,
         [&] {
             const uint64_t tick = fake::FileTimeNow();
             List("Downloa");
             fake::SetLastWrite(path, tick);
         },
         Answer::Listed},
        {"the same size, later", 3600 * kSecond,
         [&] {
             List("Downloa");
             fake::SetLastWrite(path, fake::FileTimeNow());
         },
         Answer::Listed},
        {"another size at the same time", 3600 * kSecond,
         [&] {
             List("Downloads");
             fake::SetLastWrite(path, old);
         },
         Answer::Listed},
        {"replaced by a rename: same size, same time", 3600 * kSecond,
         [&] {
             WriteFile(scratch / "new", "Downloa");
             std::filesystem::last_write_time(scratch / "new", std::filesystem::last_write_time(db6));
             std::filesystem::rename(scratch / "new", db6);
         },
         Answer::Listed},
        {"removed", 3600 * kSecond, [&] { std::filesystem::remove(db6); }, Answer::Missing},
        {"become a folder", 3600 * kSecond,
         [&] {
             std::filesystem::remove(db6);
             std::filesystem::create_directory(db6);
         },
         Answer::Missing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.change);
        std::filesystem::remove_all(db6);
        MonitoredFolderList fresh;
        ListWritten("Desktop", row.firstAge);
        ASSERT_EQ(fresh.Test(path, downloads), Answer::NotListed);
        const int reads = fake::FileReads();
        ASSERT_EQ(fresh.Test(path, downloads), Answer::NotListed);
        // Read again only when the first stamp could not be trusted.
        ASSERT_EQ(fake::FileReads() - reads, row.firstAge == 0 ? 1 : 0);
        row.make();
        EXPECT_EQ(fresh.Test(path, downloads), row.after);
    }
}

TEST_F(ListCacheTest, AListCaughtMidWriteIsWaitedFor)
{
    ListWritten("Downloads\n", 3600 * kSecond);
    ASSERT_EQ(list.Test(path, downloads), Answer::Listed);
    // Another process truncates it and writes it again, in parts.
    fake::HoldWriter(path, 3, "Dow", "Desktop\nDownloads\n");
    const int reads = fake::FileReads();
    const int sleeps = fake::Sleeps();
    EXPECT_EQ(list.Test(path, u"alice\\Desktop\\a.exe"), Answer::Listed);
    EXPECT_EQ(list.Test(path, u"bob\\Dow\\a.exe"), Answer::NotListed);
    // Three reads found the writer; the one after it closed counted; the
    // second test read again, the list being fresh.
    EXPECT_EQ(fake::FileReads() - reads, 5);
    EXPECT_EQ(fake::Sleeps() - sleeps, 3);
}

TEST_F(ListCacheTest, AListAWriterKeepsOpenIsTakenOnceLeftAlone)
{
    // Held for good; what it holds was written an hour ago.
    fake::HoldWriter(path, 1000000, "Downloads\n", "");
    fake::SetLastWrite(path, fake::FileTimeNow() - 3600 * kSecond);
    const int reads = fake::FileReads();
    EXPECT_EQ(list.Test(path, downloads), Answer::Listed);
    EXPECT_EQ(fake::FileReads() - reads, MonitoredFolderList::kWriterTries + 1);
    // Unchanged since, and trusted: no more waits.
    EXPECT_EQ(list.Test(path, downloads), Answer::Listed);
    EXPECT_EQ(fake::FileReads() - reads, MonitoredFolderList::kWriterTries + 1);
}

TEST_F(ListCacheTest, AListAWriterKeepsWritingLeavesTheLastCompleteOneStanding)
{
    ListWritten("Downloads\n", 3600 * kSecond);
    ASSERT_EQ(list.Test(path, downloads), Answer::Listed);
    fake::HoldWriter(path, 1000000, "Desk", "", true);
    const int reads = fake::FileReads();
    EXPECT_EQ(list.Test(path, downloads), Answer::Listed);
    EXPECT_EQ(list.Test(path, downloads), Answer::Listed);
    // Each test waited out the writer and read what it held once more.
    EXPECT_EQ(fake::FileReads() - reads, 2 * (MonitoredFolderList::kWriterTries + 1));
}
