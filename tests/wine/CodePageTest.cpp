// The Win32 code-page adapter and the record-name round trip against the
// real system conversions (code page 1252 under the test locale).
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "watch/ChangeRecords.h"

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
