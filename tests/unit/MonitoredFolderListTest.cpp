#include "product/ProductLayout.h"
#include "tests/unit/TestSupport.h"
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

TEST_F(MonitoredFolderListTest, AnEmptyLineAnywhereAdmitsEveryCandidate)
{
    for (const char* list : {"Downloads\n\n", "Downloads\n\r", "Downloads\r\n\r\n", "\r\n",
                             "\nDownloads", "A\n\nB"}) {
        List(list);
        EXPECT_TRUE(IsInMonitoredFolderList((u"x\\anything.exe"))) << testing::PrintToString(list);
    }
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
    EXPECT_TRUE(IsInMonitoredFolderList((u"alice\\Downloads\\a.exe")));
}
