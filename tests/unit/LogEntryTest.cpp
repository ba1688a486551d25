#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "log/LogFile.h"
#include "product/ProductLayout.h"
#include "tests/unit/TestSupport.h"

class LogEntryTest : public PlatformTest {};

namespace {
const std::string kLookupFailure = Entry("In GetAppDataFolderPath, SHGetKnownFolderPath failed.");
}

TEST_F(LogEntryTest, EntriesAreFramedAndAppendedWithoutTerminator)
{
    WriteLogEntry(L"Test.txt", L"first");
    EXPECT_EQ(LogBytes(L"Test.txt"), Entry("first"));
    WriteLogEntry(L"Test.txt", L"second %s", L"x");
    EXPECT_EQ(LogBytes(L"Test.txt"), Entry("first") + Entry("second x"));
    EXPECT_EQ(Entry("a").size(), 2 + 75 + 2 + 1u);
}

TEST_F(LogEntryTest, WideTextIsReducedToLatin1WithQuestionMarks)
{
    WriteLogEntry(kSuccessAppConLogs, L"PELMON: Profile Dir Path: %s",
                  L"C:\\Us\u00e9rs\u00ff\u0100\u4e2d\U0001F600");
    // U+00E9 and U+00FF are their own bytes; U+0100 and U+4E2D one '?' each,
    // and a character beyond the BMP one '?' for each of its UTF-16 units.
    EXPECT_EQ(LogBytes(kSuccessAppConLogs),
              Entry("PELMON: Profile Dir Path: C:\\Us\xe9rs\xff????"));
}

TEST_F(LogEntryTest, NarrowTextReachesTheFileByteForByte)
{
    const char systemText[] = "Fehler \x84\xe4\x81 beim \xff\r\n";
    WriteLogEntry(kErrorFunctionLogs, L"In X: failed with: %S", systemText);
    WriteLogEntry(kErrorFunctionLogs, L"next");
    // The text's own CR LF and the next entry's leading one make an empty line.
    EXPECT_EQ(LogBytes(kErrorFunctionLogs),
              Entry(std::string("In X: failed with: ") + systemText) + Entry("next"));
    EXPECT_NE(LogBytes(kErrorFunctionLogs).find("\r\n\r\n---"), std::string::npos);
}

TEST_F(LogEntryTest, EmptyArgumentAndPercentSigns)
{
    WriteLogEntry(kSuccessAppConLogs, L"PELMON: AppData Dir Path: %s", L"");
    WriteLogEntry(kSuccessAppConLogs, L"100%% sure");
    EXPECT_EQ(LogBytes(kSuccessAppConLogs), Entry("PELMON: AppData Dir Path: ") + Entry("100% sure"));
}

TEST_F(LogEntryTest, MissingProductFolderWritesNothing)
{
    std::filesystem::remove_all(ProductFolder());
    WriteLogEntry(kErrorFunctionLogs, L"lost");
    EXPECT_FALSE(std::filesystem::exists(ProductFolder()));
}

TEST_F(LogEntryTest, LookupFailureIsReportedOnceAlongTheFallbackPath)
{
    fake::SetProgramDataFound(false);
    std::filesystem::create_directories(scratch / "Pelorin");
    WriteLogEntry(kErrorFunctionLogs, L"the entry");
    // Both land relative to the root of the current drive, the report first.
    EXPECT_EQ(FallbackLogBytes(kErrorFunctionLogs), kLookupFailure + Entry("the entry"));
    EXPECT_FALSE(LogExists(kErrorFunctionLogs));
}

TEST_F(LogEntryTest, GetAppDataFolderPathReportsItsOwnFailureOnce)
{
    fake::SetProgramDataFound(false);
    std::filesystem::create_directories(scratch / "Pelorin");
    EXPECT_EQ(GetAppDataFolderPath(), L"");
    EXPECT_EQ(FallbackLogBytes(kErrorFunctionLogs), kLookupFailure);
    EXPECT_EQ(fake::ProgramDataLookups(), 1);
}

TEST_F(LogEntryTest, OverLongLogPathsAreRefused)
{
    const std::wstring suffix = std::wstring(L"\\Pelorin\\") + kErrorFunctionLogs;
    const std::wstring fits(1023 - suffix.size(), L'a');
    EXPECT_EQ(LogFilePath(fits, kErrorFunctionLogs), fits + suffix);
    EXPECT_EQ(LogFilePath(fits + L"a", kErrorFunctionLogs), L"");
}
