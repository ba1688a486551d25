// Which path of a file the scanner is given, and what is reported when the
// file itself cannot be named in the ANSI code page.
#include "tests/unit/TestSupport.h"
#include "watch/scan/ScanDispatch.h"
#include "watch/names/Utf16.h"

class ScanDispatchTest : public PlatformTest {};

TEST_F(ScanDispatchTest, EveryPathReachesTheScannerExactlyOrIsReplacedByOneThatDoes)
{
    fake::SetShortPath(L"C:\\users\\a\\x\uFF02 --log=\uFF02C\uFF1A\uFF3Cpwned.txt\uFF02 \uFF02y.exe",
                       L"C:\\users\\a\\XLOG_P~1.EXE");
    fake::SetShortPath(L"C:\\users\\a\\tool.exe.", L"C:\\users\\a\\TOOLEX~1");
    fake::SetShortPath(L"C:\\users\\\u0418\u0432\u0430\u043d", L"C:\\users\\B2C4~1");
    fake::SetShortPath(L"C:\\users\\b\\\u4e2d.exe", L"C:\\users\\b\\\u4e2d.exe"); // no 8.3 names there
    // A device name that is a valid 8.3 name is its own short name.
    fake::SetShortPath(L"C:\\users\\a\\CON.exe", L"C:\\users\\a\\CON.exe");
    fake::SetShortPath(L"C:\\users\\a\\con .exe", L"C:\\users\\a\\CON_~EO0.EXE");
    fake::SetShortPath(L"C:\\users\\a\\nul\\x", L"C:\\users\\a\\NUL~1\\x");
    const struct {
        std::wstring root;
        std::wstring candidate;
        ScanTargetForm form;
        std::wstring target;
    } cases[] = {
        {L"C:\\users", L"a\\caf\u00e9 & (1) %OS% !x!.exe", ScanTargetForm::Exact,
         L"C:\\users\\a\\caf\u00e9 & (1) %OS% !x!.exe"},
        {L"C:\\users", L"a\\x\uFF02 --log=\uFF02C\uFF1A\uFF3Cpwned.txt\uFF02 \uFF02y.exe",
         ScanTargetForm::ShortPath, L"C:\\users\\a\\XLOG_P~1.EXE"},
        // The system's path rules would strip the trailing dot.
        {L"C:\\users", L"a\\tool.exe.", ScanTargetForm::ShortPath, L"C:\\users\\a\\TOOLEX~1"},
        {L"C:\\users", L"a\\Downloads\\\u043e\u0442\u0447\u0451\u0442.exe", ScanTargetForm::Folder,
         L"C:\\users\\a\\Downloads"},
        {L"C:\\users", L"b\\\u4e2d.exe", ScanTargetForm::Folder, L"C:\\users\\b"},
        // The system's path rules would open a device for these.
        {L"C:\\users", L"a\\CON.exe", ScanTargetForm::Folder, L"C:\\users\\a"},
        {L"C:\\users", L"a\\con .exe", ScanTargetForm::ShortPath, L"C:\\users\\a\\CON_~EO0.EXE"},
        {L"C:\\users", L"a\\nul\\x", ScanTargetForm::ShortPath, L"C:\\users\\a\\NUL~1\\x"},
        {L"C:\\users", L"a\\aux\\b\\y.exe", ScanTargetForm::Folder, L"C:\\users\\a"},
        {L"C:\\users", L"\u0418\u0432\u0430\u043d\\Downloads\\a\u200bb.exe", ScanTargetForm::Folder,
         L"C:\\users\\B2C4~1"},
        {L"C:\\users", L"\u0418\u0432\u0430\u043d \\a.exe", ScanTargetForm::Folder, L"C:\\users"},
        {L"C:\\\u4e2d", L"\u4e2d.exe", ScanTargetForm::None, L""},
    };
    for (const auto& c : cases) {
        std::wstring target = L"left over";
        EXPECT_EQ(ScanTargetOf(c.root, UnitsOfWide(c.candidate), target), c.form) << fake::Utf8Of(c.candidate);
        EXPECT_EQ(target, c.target) << fake::Utf8Of(c.candidate);
    }
}

namespace {

// One file's call, as the scanner stage starts it: its target, then the call.
ScanStart ScanOne(const std::wstring& programData, const std::wstring& root, const std::wstring& candidate)
{
    std::wstring target;
    if (PrepareScanTarget(root, UnitsOfWide(candidate), target) == ScanTargetForm::None) {
        ScanStart start;
        start.unscannable = true;
        return start;
    }
    return StartScanCall(programData, {target});
}

} // namespace

TEST_F(ScanDispatchTest, AFileScannedByItsFolderOrNotAtAllIsReported)
{
    const auto scan = [](const std::wstring& root, const std::wstring& candidate) {
        const ScanStart start = ScanOne(L"C:\\ProgramData", root, candidate);
        if (start.process)
            platform::CloseProcess(start.process);
        return start.process != nullptr;
    };
    EXPECT_TRUE(scan(L"C:\\users", L"a\\caf\u00e9.exe"));
    EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt")) << "an exact path is nothing to report";

    EXPECT_TRUE(scan(L"C:\\users", L"a\\\u4e2d.exe"));
    EXPECT_FALSE(scan(L"C:\\\u4e2d", L"b.exe"));
    EXPECT_EQ(ScannedFiles(), (Paths{"C:\\users\\a\\caf\xc3\xa9.exe", "C:\\users\\a"}));
    // The quarantine folder below the program-data folder that was passed;
    // checked here once for every scan.
    ASSERT_FALSE(fake::ScanArguments().empty());
    EXPECT_EQ(fake::ScanArguments()[0],
              (Paths{"clamdscan.exe", "--move=C:\\ProgramData\\Pelorin\\Vault", "C:\\users\\a\\caf\xc3\xa9.exe"}));
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"),
              Entry("In StartScan: \"C:\\users\\a\\?.exe\" cannot be named to the scanner exactly; "
                    "its folder \"C:\\users\\a\" is scanned instead.") +
                  Entry("In StartScan: \"C:\\?\\b.exe\" cannot be named to the scanner exactly, nor "
                        "can any folder above it; it was not scanned."));
}

TEST_F(ScanDispatchTest, NoScanWithoutAnExactQuarantineFolderOrAScanner)
{
    EXPECT_TRUE(ScanOne(L"C:\\Program\u4e2dData", L"C:\\users", L"a.exe").unscannable);
    EXPECT_TRUE(ScannedFiles().empty());
    EXPECT_EQ(LogBytes(L"ErrorFunctionLogs.txt"),
              Entry("In StartScan: the quarantine folder has no exact form in the ANSI code page; "
                    "\"C:\\users\\a.exe\" was not scanned."));

    std::filesystem::remove(ProductFolder() / "ErrorFunctionLogs.txt");
    fake::SetScannerFound(false);
    const ScanStart start = ScanOne(L"C:\\ProgramData", L"C:\\users", L"a.exe");
    EXPECT_FALSE(start.unscannable || start.process) << "not found: worth another try";
    EXPECT_TRUE(ScannedFiles().empty());
    EXPECT_FALSE(LogExists(L"ErrorFunctionLogs.txt")) << "a missing scanner is not logged";
}
