// The extension filter, the recent-name cache and the scan command line.
// Pure logic: these run in both builds.
#include <gtest/gtest.h>

#include "watch/RecentNameCache.h"
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
                                  L"Pelorin\\Vault\\"})
        EXPECT_TRUE(IsInVaultFolder(inside)) << inside;
    for (const wchar_t* outside :
         {L"PelorinX\\Vault\\a.exe", L"Pelorin\\Vaults\\a.exe", L"Pelorin\\Vault.exe",
          L"Pelorin\\Vaul", L"Pelorin", L"Pelorin\\db\\db6", L"x\\Pelorin\\Vault\\a.exe",
          L"Pelorin\\.clamav-unlink-x1", L"Pelorin\\Vault.clamav-quarantine-lock.1", L""})
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

TEST(RecentNameCacheTest, EmptiesItselfWhenTheHundredthNameIsFollowedByAnother)
{
    RecentNameCache cache;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(cache.AdmitCandidate(wxString::Format("f%d", i)));
    EXPECT_EQ(cache.Size(), 100u);
    // At 100 names the next offer clears first, so even a cached name is
    // admitted again; then it is the only name.
    EXPECT_TRUE(cache.AdmitCandidate(wxS("f7")));
    EXPECT_EQ(cache.Size(), 1u);
    EXPECT_FALSE(cache.AdmitCandidate(wxS("f7")));
    EXPECT_TRUE(cache.AdmitCandidate(wxS("f8"))) << "forgotten with the rest";
}

TEST(RecentNameCacheTest, NinetyNineNamesAreKept)
{
    RecentNameCache cache;
    for (int i = 0; i < 99; ++i)
        cache.AdmitCandidate(wxString::Format("f%d", i));
    EXPECT_FALSE(cache.AdmitCandidate(wxS("f0")));
    EXPECT_FALSE(cache.AdmitCandidate(wxS("f98")));
    EXPECT_TRUE(cache.AdmitCandidate(wxS("new")));
    EXPECT_EQ(cache.Size(), 100u) << "no clearing below the mark";
}

TEST(BuildScanCommandTest, JoinsThePiecesExactly)
{
    EXPECT_EQ(BuildScanCommand(L"C:\\ProgramData", L"C:\\Users", wxS("alice\\Downloads\\setup.exe")),
              wxS("clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
                  "\"C:\\Users\\alice\\Downloads\\setup.exe\""));
    EXPECT_EQ(BuildScanCommand(L"", L"C:\\users", wxS("x.exe")),
              wxS("clamdscan.exe --move=\"\\Pelorin\\Vault\" \"C:\\users\\x.exe\""));
    EXPECT_EQ(BuildScanCommand(L"C:\\ProgramData", L"C:\\users",
                               wxS("bob\\Down loads\\a & b (1)%OS%!x!.exe")),
              wxS("clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
                  "\"C:\\users\\bob\\Down loads\\a & b (1)%OS%!x!.exe\""));
    EXPECT_EQ(BuildScanCommand(L"C:\\ProgramData", L"C:\\ProgramData", wxS("NewFolder")),
              wxS("clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
                  "\"C:\\ProgramData\\NewFolder\""));
}
