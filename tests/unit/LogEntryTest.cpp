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

TEST_F(LogEntryTest, ControlCharactersOfArgumentsAreEscapedTheRestKeptByteForByte)
{
    const struct {
        const wchar_t* wide;
        const char* narrow;
        const char* logged;
    } cases[] = {
        {L"C:\\x\\r\\n.exe", nullptr, "C:\\x\\r\\n.exe"}, // backslashes stay as they are
        {L"a\rb\nc\td", nullptr, "a<0D>b<0A>c<09>d"},
        {L"\x01\x1b\x1f\x20\x7e\x7f", nullptr, "<01><1B><1F> ~<7F>"},
        // C1: U+0085 is a line break to a Latin-1 reader; U+00A0 is not C1.
        {L"\x80\x85\x9f\xa0\xff", nullptr, "<80><85><9F>\xa0\xff"},
        {L"<0D> is <", nullptr, "<3C>0D> is <3C>"}, // "<" itself, so each "<" begins an escape
        {L"\u2028\u2029", nullptr, "??"},
        {nullptr, "Fehler \xe4\xff <\x84\x81\x7f\x1b", "Fehler \xe4\xff <3C><84><81><7F><1B>"},
    };
    std::string expected;
    for (const auto& c : cases) {
        if (c.wide)
            WriteLogEntry(kErrorFunctionLogs, L"[%s]", c.wide);
        else
            WriteLogEntry(kErrorFunctionLogs, L"[%S]", c.narrow);
        expected += Entry(std::string("[") + c.logged + "]");
    }
    EXPECT_EQ(LogBytes(kErrorFunctionLogs), expected);
}

TEST_F(LogEntryTest, AFileNameCannotForgeAnEntry)
{
    const std::wstring hyphens(75, L'-');
    const std::wstring forged = L"C:\\users\\alice\\Downloads\\f\r\n" + hyphens +
                                L"\r\nPELMON: 2025-01-01 00:00:00 UTC: clamdscan found a threat in "
                                L"\"C:\\Windows\\explorer.exe\" and moved it.";
    WriteLogEntry(kErrorFunctionLogs, L"In StartScan: \"%s\" was not scanned.", forged.c_str());
    const std::string log = LogBytes(kErrorFunctionLogs);
    const std::string separator = "\r\n" + std::string(75, '-') + "\r\n";
    ASSERT_EQ(log.rfind(separator), 0u) << "exactly one entry frame, at the start";
    EXPECT_EQ(log.find_first_of("\r\n", separator.size()), std::string::npos);
    EXPECT_EQ(log, Entry("In StartScan: \"C:\\users\\alice\\Downloads\\f<0D><0A>" + std::string(75, '-') +
                         "<0D><0A>PELMON: 2025-01-01 00:00:00 UTC: clamdscan found a threat in "
                         "\"C:\\Windows\\explorer.exe\" and moved it.\" was not scanned."));
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
