// The extension filter, the recent-name cache, device names and the scan
// command line.
// Pure logic: these run in both builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watch/names/DeviceNames.h"
#include "watch/names/RecentNameCache.h"
#include "watch/scan/ScanCommand.h"
#include "watch/scan/ScanDispatch.h"
#include "watch/names/ScanFilters.h"
#include "watch/names/Utf16.h"

namespace {

// For messages: the units, ASCII as they are and anything else as '?'.
std::string Ascii(const std::u16string& units)
{
    std::string text;
    for (char16_t unit : units)
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    return text;
}

} // namespace

TEST(ExcludedExtensionTest, ExtensionIsTheTextAfterTheLastDotOfTheWholePath)
{
    for (const char16_t* excluded :
         {u"photo.jpg", u"alice\\Documents\\report.pdf", u".tmp", u"payload.exe.txt", u"log",
          u"tmp", u"a.jpeg", u"b.gif", u"c.png", u"d.tif", u"e.tiff", u"f.docx", u"g.mp3",
          u"h.mp4", u"i.wav", u"j.avi", u"k.mpg", u"l.mpeg", u"m.wmv", u"n.vob", u"o.log"})
        EXPECT_TRUE(IsExcludedExtension(excluded)) << Ascii(std::u16string(excluded));
    for (const char16_t* scanned :
         {u"PHOTO.JPG", u"Photo.Jpg", u"report.PDF", u"setup.exe", u"archive.tar.gz",
          u"invoice.pdf.exe", u"sub\\log", u"my.docs\\setup", u"backup.txt\\payload", u"file.",
          u"doc", u"txt ", u"jpgx.x", u""})
        EXPECT_FALSE(IsExcludedExtension(scanned)) << Ascii(std::u16string(scanned));
}

TEST(VaultFolderTest, OnlyTheVaultAndWhatLiesInsideItWhateverTheCase)
{
    for (const char16_t* inside : {u"Pelorin\\Vault", u"Pelorin\\Vault\\setup.exe",
                                  u"pelorin\\vault\\a.exe", u"PELORIN\\VAULT\\sub\\x.exe.001",
                                  u"Pelorin\\Vault\\", u"pelorin\\vAULT"})
        EXPECT_TRUE(IsInVaultFolder(inside)) << Ascii(std::u16string(inside));
    for (const char16_t* outside :
         {u"PelorinX\\Vault\\a.exe", u"Pelorin\\Vaults\\a.exe", u"Pelorin\\Vault.exe",
          u"Pelorin\\Vaul", u"Pelorin", u"Pelorin\\db\\db6", u"x\\Pelorin\\Vault\\a.exe",
          u"Pelorin\\.clamav-unlink-x1", u"Pelorin\\Vault.clamav-quarantine-lock.1", u"",
          // Look-alikes: a fullwidth reverse solidus is no separator.
          u"Pelorin\uFF3CVault\\a.exe", u"Pelorin\uFF3CVault", u"Pelorin\\Vault\uFF3Ca.exe"})
        EXPECT_FALSE(IsInVaultFolder(outside)) << Ascii(std::u16string(outside));
}

TEST(RecentNameCacheTest, AdmitsEachNameOnceAndIsCaseSensitive)
{
    RecentNameCache cache;
    EXPECT_TRUE(cache.AdmitCandidate((u"a\\Setup.exe")));
    EXPECT_FALSE(cache.AdmitCandidate((u"a\\Setup.exe")));
    EXPECT_TRUE(cache.AdmitCandidate((u"a\\setup.exe")));
    EXPECT_EQ(cache.Size(), 2u);
}

TEST(RecentNameCacheTest, KeepsAHundredNamesAndEmptiesItselfWhenAnotherFollows)
{
    RecentNameCache cache;
    for (int i = 0; i < 99; ++i)
        ASSERT_TRUE(cache.AdmitCandidate(u"f" + std::u16string(UnitsOfWide(std::to_wstring(i)))));
    EXPECT_FALSE(cache.AdmitCandidate((u"f0")));
    EXPECT_FALSE(cache.AdmitCandidate((u"f98")));
    EXPECT_TRUE(cache.AdmitCandidate((u"new")));
    EXPECT_EQ(cache.Size(), 100u) << "no clearing below the mark";
    // At 100 names the next offer clears first, so even a cached name is
    // admitted again; then it is the only name.
    EXPECT_TRUE(cache.AdmitCandidate((u"f7")));
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(cache.AdmitCandidate((u"f7")));
    EXPECT_TRUE(cache.AdmitCandidate((u"f8"))) << "forgotten with the rest";
}

// The one place that pins the command line byte for byte; other tests
// assert the paths that the scanner was given.
TEST(BuildScanCommandTest, EachArgumentComesBackWholeAndPlainPathsReadAsEver)
{
    const std::wstring vault = L"C:\\ProgramData\\Pelorin\\Vault";
    const struct {
        std::wstring vault;
        std::vector<std::wstring> targets;
        std::wstring line;
    } cases[] = {
        {vault, {L"C:\\Users\\alice\\Downloads\\setup.exe"},
         L"clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
         L"\"C:\\Users\\alice\\Downloads\\setup.exe\""},
        {L"\\Pelorin\\Vault", {L"C:\\users\\x.exe"},
         L"clamdscan.exe --move=\"\\Pelorin\\Vault\" \"C:\\users\\x.exe\""},
        // Nothing but a quote ends a quoted argument: no expansion, no
        // splitting at blanks, ampersands or parentheses.
        {vault, {L"C:\\users\\bob\\Down loads\\a & b (1)%OS%!x!\u00e9.exe"},
         L"clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
         L"\"C:\\users\\bob\\Down loads\\a & b (1)%OS%!x!\u00e9.exe\""},
        // A quote, and backslashes before a quote or the closing one, are
        // escaped the way the argument splitter undoes.
        {vault, {L"C:\\a\"b", L"C:\\"},
         L"clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" \"C:\\a\\\"b\" \"C:\\\\\""},
        {vault, {L"C:\\a\\\"--log=x"},
         L"clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" \"C:\\a\\\\\\\"--log=x\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildScanCommand(c.vault, c.targets), c.line);
}

// A path the scanner is given must open the file, not the device that the
// system's path rules would open for such a name.
TEST(DeviceNameTest, DeviceNamesWithAnyExtensionCaseOrTrailerAndNothingThatMerelyStartsLikeOne)
{
    const struct {
        const wchar_t* component;
        bool device;
    } cases[] = {
        {L"CON", true}, {L"con", true}, {L"CON.exe", true}, {L"nul", true}, {L"aux.exe", true},
        {L"COM1.exe", true}, {L"lpt1", true}, {L"prn.exe", true}, {L"Lpt9.tar.gz", true},
        {L"CON.", true}, {L"nul. .", true}, {L"aux ", true}, {L"con .exe", true}, {L"PRN  .txt", true},
        {L"con:stream", true}, {L"CONIN$", true}, {L"conout$.txt", true},
        {L"COM0", true}, {L"lpt0.exe", true}, // listed in the naming rules of recent versions
        {L"COM\u00b9.exe", true}, {L"com\u00b2", true}, {L"LPT\u00b3.exe", true},
        {L"con\u0131n$", true}, // a dotless i is an I to the system's upcase table
        {L"CONSOLE.exe", false}, {L"COM10.exe", false}, {L"con2.exe", false}, {L"LPT\u00b4.exe", false},
        {L"COM.exe", false}, {L" con.exe", false}, {L"xcon", false}, {L"nul_", false}, {L"", false},
        {L"C\uFF2FN.exe", false}, // a fullwidth O is no O
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsDeviceName(c.component), c.device) << testing::PrintToString(std::wstring(c.component));

    // In any component, folders too, and a slash separates like a backslash.
    for (const wchar_t* path : {L"C:\\x\\CON\\a.exe", L"C:\\users\\alice\\Downloads\\COM1.exe",
                                L"C:\\x/nul/a.exe", L"C:\\aux.d\\a.exe"}) {
        EXPECT_TRUE(HasDeviceComponent(path)) << testing::PrintToString(std::wstring(path));
        EXPECT_FALSE(ReachesScannerExactly(path)) << testing::PrintToString(std::wstring(path));
    }
    for (const wchar_t* path : {L"C:\\x\\CONSOLE\\COM10.exe", L"C:\\", L"\\\\server\\share\\con2.exe"}) {
        EXPECT_FALSE(HasDeviceComponent(path)) << testing::PrintToString(std::wstring(path));
        EXPECT_TRUE(ReachesScannerExactly(path)) << testing::PrintToString(std::wstring(path));
    }
}
