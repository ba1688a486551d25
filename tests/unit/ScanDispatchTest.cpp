#include "tests/unit/TestSupport.h"
#include "watch/ScanDispatch.h"

class ScanDispatchTest : public PlatformTest {
protected:
    KillGate gate;
};

TEST_F(ScanDispatchTest, TheCommandReachesTheScannerUnchanged)
{
    const wxString command = BuildScanCommand(L"C:\\ProgramData", L"C:\\users",
                                              wxS("bob\\a & b (1) %OS% !PATH! \u00e9.exe"));
    DispatchScan(command, gate);
    ASSERT_EQ(fake::State().scans.size(), 1u);
    EXPECT_EQ(fake::State().scans[0],
              "clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
              "\"C:\\users\\bob\\a & b (1) %OS% !PATH! \xe9.exe\"");
    EXPECT_EQ(fake::State().runningScans, 0) << "dispatch returns only after the scanner exited";
}

TEST_F(ScanDispatchTest, CommandWithoutExactAnsiFormStartsNoScanner)
{
    DispatchScan(BuildScanCommand(L"C:\\Program\u4e2dData", L"C:\\users", wxS("a.exe")), gate);
    EXPECT_TRUE(fake::State().scans.empty());
}

TEST_F(ScanDispatchTest, MissingScannerIsIgnoredSilently)
{
    fake::State().scannerFound = false;
    DispatchScan(BuildScanCommand(L"C:\\ProgramData", L"C:\\users", wxS("a.exe")), gate);
    EXPECT_TRUE(fake::State().scans.empty());
    EXPECT_TRUE(std::filesystem::is_empty(ProductFolder())) << "nothing is logged";
}
