// The Win32 code-page adapter and the record-name round trip against the
// real system conversions (code page 1252 under the test locale), held to
// the rules Windows documents for each code page.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/CodePage.h"
#include "watch/ChangeRecords.h"
#include "watch/ScanDispatch.h"

TEST(Win32CodePageTest, BestFitAndDefaultCharacters)
{
    const std::u16string name = u"tool-\u0101\u00e9\u4e2d.exe";
    EXPECT_EQ(platform::Utf16ToAnsiBestFit(name.data(), name.size()), "tool-a\xe9?.exe");
    EXPECT_EQ(ConvertRecordName(name), wxString(L"tool-a\u00e9?.exe"));
}

TEST(Win32CodePageTest, ExactConversionRefusesBestFit)
{
    std::string ansi;
    EXPECT_TRUE(platform::WideToAnsiExact(L"C:\\caf\u00e9 & (1).exe", ansi));
    EXPECT_EQ(ansi, "C:\\caf\xe9 & (1).exe");
    EXPECT_FALSE(platform::WideToAnsiExact(L"C:\\tool-\u0101.exe", ansi));
    EXPECT_FALSE(platform::WideToAnsiExact(L"C:\\\u4e2d.exe", ansi));
}

TEST(Win32CodePageTest, LongNamesConvertWhole)
{
    const std::u16string name = u"a\\" + std::u16string(1000, u'\u00e9') + u".exe";
    const std::string ansi = platform::Utf16ToAnsiBestFit(name.data(), name.size());
    EXPECT_EQ(ansi.size(), name.size());
}

// Run alone, under a locale whose ANSI code page is UTF-8, as on a machine
// with "Use Unicode UTF-8 for worldwide language support".
TEST(Utf8AnsiCodePageTest, NamesReachTheScannerUnchanged)
{
    ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "needs a UTF-8 ANSI code page";
    const std::u16string name = u"alice\\Downloads\\caf\u00e9 \u4e2d \U0001F600.exe";
    const wxString candidate = ConvertRecordName(name);
    EXPECT_EQ(candidate, wxString(L"alice\\Downloads\\caf\u00e9 \u4e2d \U0001F600.exe"));

    std::string ansi;
    EXPECT_TRUE(platform::WideToAnsiExact(
        BuildScanCommand(L"C:\\ProgramData", L"C:\\users", candidate).ToStdWstring(), ansi));
    EXPECT_EQ(ansi, "clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
                    "\"C:\\users\\alice\\Downloads\\caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80.exe\"");
    EXPECT_FALSE(platform::WideToAnsiExact(std::wstring(L"a") + wchar_t(0xD800), ansi))
        << "a lone surrogate has no UTF-8 form";
}
