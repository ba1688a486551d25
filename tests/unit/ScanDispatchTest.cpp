#include "tests/unit/TestSupport.h"
#include "watch/ScanDispatch.h"

class ScanDispatchTest : public PlatformTest {};

TEST_F(ScanDispatchTest, TheCommandReachesTheScannerUnchanged)
{
    const wxString command = BuildScanCommand(L"C:\\ProgramData", L"C:\\users",
                                              wxS("bob\\a & b (1) %OS% !PATH! \u00e9.exe"));
    const platform::ProcessHandle scanner = StartScan(command);
    ASSERT_NE(scanner, nullptr);
    platform::CloseProcess(scanner);
    ASSERT_EQ(fake::State().scans.size(), 1u);
    EXPECT_EQ(fake::State().scans[0],
              "clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
              "\"C:\\users\\bob\\a & b (1) %OS% !PATH! \xe9.exe\"");
}

TEST_F(ScanDispatchTest, CommandWithoutExactAnsiFormStartsNoScanner)
{
    EXPECT_EQ(StartScan(BuildScanCommand(L"C:\\Program\u4e2dData", L"C:\\users", wxS("a.exe"))),
              nullptr);
    EXPECT_TRUE(fake::State().scans.empty());
}

TEST_F(ScanDispatchTest, MissingScannerIsIgnoredSilently)
{
    fake::State().scannerFound = false;
    EXPECT_EQ(StartScan(BuildScanCommand(L"C:\\ProgramData", L"C:\\users", wxS("a.exe"))), nullptr);
    EXPECT_TRUE(fake::State().scans.empty());
    EXPECT_TRUE(std::filesystem::is_empty(ProductFolder())) << "nothing is logged";
}
