// The extension filter, the recent-name cache, device names and the scan
// command line.
// Pure logic: these run in both builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watch/DeviceNames.h"
#include "watch/RecentNameCache.h"
#include "watch/ScanCommand.h"
#include "watch/ScanDispatch.h"
#include "watch/ScanFilters.h"

TEST(ExcludedExtensionTest, ExtensionIsTheTextAfterTheLastDotOfTheWholePath)
{
    for (const wchar_t* excluded :
         {L"photo.jpg", L"alice\\Documents\\report.pdf", L".tmp", L"payload.exe.txt", L"log",
          L"tmp", L"a.jpeg", L"b.gif", L"c.png", L"d.tif", L"e.tiff", L"f.docx", L"g.mp3",
          L"h.mp4", L"i.wav", L"j.avi", L"k.mpg", L"l.mpeg", L"m.wmv", L"n.vob", L"o.log"})
        EXPECT_TRUE(IsExcludedExtension(excluded)) << excluded;
    for (const wchar_t* scanned :
         {L"PHOTO.JPG", L"Photo.Jpg", L"report.PDF", L"setup.exe", L"archive.tar.gz",
          L"invoice.pdf.exe", L"sub\\log", L"my.docs\\setup", L"backup.txt\\payload", L"file.",
          L"doc", L"txt ", L"jpgx.x", L""})
        EXPECT_FALSE(IsExcludedExtension(scanned)) << scanned;
}

TEST(VaultFolderTest, OnlyTheVaultAndWhatLiesInsideItWhateverTheCase)
{
    for (const wchar_t* inside : {L"Pelorin\\Vault", L"Pelorin\\Vault\\setup.exe",
                                  L"pelorin\\vault\\a.exe", L"PELORIN\\VAULT\\sub\\x.exe.001",
                                  L"Pelorin\\Vault\\", L"pelorin\\vAULT"})
        EXPECT_TRUE(IsInVaultFolder(inside)) << inside;
    for (const wchar_t* outside :
         {L"PelorinX\\Vault\\a.exe", L"Pelorin\\Vaults\\a.exe", L"Pelorin\\Vault.exe",
          L"Pelorin\\Vaul", L"Pelorin", L"Pelorin\\db\\db6", L"x\\Pelorin\\Vault\\a.exe",
          L"Pelorin\\.clamav-unlink-x1", L"Pelorin\\Vault.clamav-quarantine-lock.1", L"",
          // Look-alikes: a fullwidth reverse solidus is no separator.
          L"Pelorin\uFF3CVault\\a.exe", L"Pelorin\uFF3CVault", L"Pelorin\\Vault\uFF3Ca.exe"})
        EXPECT_FALSE(IsInVaultFolder(outside)) << outside;
}

TEST(RecentNameCacheTest, AdmitsEachNameOnceAndIsCaseSensitive)
{
    RecentNameCache cache;
    EXPECT_TRUE(cache.AdmitCandidate(wxS("a\\Setup.exe")));
    EXPECT_FALSE(cache.AdmitCandidate(wxS("a\\Setup.exe")));
    EXPECT_TRUE(cache.AdmitCandidate(wxS("a\\setup.exe")));
    EXPECT_EQ(cache.Size(), 2u);
}

TEST(RecentNameCacheTest, KeepsAHundredNamesAndEmptiesItselfWhenAnotherFollows)
{
    RecentNameCache cache;
    for (int i = 0; i < 99; ++i)
        ASSERT_TRUE(cache.AdmitCandidate(wxString::Format("f%d", i)));
    EXPECT_FALSE(cache.AdmitCandidate(wxS("f0")));
    EXPECT_FALSE(cache.AdmitCandidate(wxS("f98")));
    EXPECT_TRUE(cache.AdmitCandidate(wxS("new")));
    EXPECT_EQ(cache.Size(), 100u) << "no clearing below the mark";
    // At 100 names the next offer clears first, so even a cached name is
    // admitted again; then it is the only name.
    EXPECT_TRUE(cache.AdmitCandidate(wxS("f7")));
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(cache.AdmitCandidate(wxS("f7")));
    EXPECT_TRUE(cache.AdmitCandidate(wxS("f8"))) << "forgotten with the rest";
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
