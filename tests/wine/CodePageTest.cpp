// Names against the real system conversions (code page 1252 under the test
// locale, or UTF-8), held to the rules Windows documents for each code page:
// whatever a file is called, the scanner's command line carries exactly two
// arguments, --move=<vault> and a path that opens that very file, both as a
// Unicode program splits it and as a program with a narrow main sees it.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "watch/scan/ScanCommand.h"
#include "watch/scan/ScanDispatch.h"
#include "watch/names/Utf16.h"

namespace {

std::vector<std::wstring> SplitCommandLine(const std::wstring& line)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> split(arguments, arguments + (arguments ? count : 0));
    LocalFree(arguments);
    return split;
}

// What Windows hands a program with a narrow main: the line in the ANSI
// code page with best fit, split by the C runtime's rules (the same as
// CommandLineToArgvW's for these lines).
std::vector<std::string> NarrowView(const std::wstring& line)
{
    const int bytes = WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), narrow.data(), bytes,
                        nullptr, nullptr);
    const int units = MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, nullptr, 0);
    std::wstring back(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, back.data(), units);
    std::vector<std::string> split;
    for (const std::wstring& argument : SplitCommandLine(back)) {
        std::string ansi;
        EXPECT_TRUE(platform::WideToAnsiExact(argument, ansi)) << "it came from the code page";
        split.push_back(ansi);
    }
    return split;
}

// Volume and file index: which file a handle has open.
std::pair<DWORD, uint64_t> Identity(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!known)
        return {0, 0};
    return {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::pair<DWORD, uint64_t> IdentityOf(const std::wstring& path)
{
    return Identity(CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::pair<DWORD, uint64_t> IdentityOf(const std::string& path)
{
    return Identity(CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class HostileNamesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        root = std::wstring(temp) + L"pelmon-names-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    }

    void TearDown() override
    {
        // Best effort: a failed test may leave a file or two in the prefix.
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            if (!DeleteFileW(it->c_str()))
                RemoveDirectoryW(it->c_str());
        }
        RemoveDirectoryW(root.c_str());
    }

    // Makes root\relative (its folders first) and returns its identity.
    std::pair<DWORD, uint64_t> Make(const std::wstring& relative)
    {
        std::wstring path = root;
        for (std::size_t start = 0;;) {
            const std::size_t cut = relative.find(L'\\', start);
            path = root + L"\\" + relative.substr(0, cut);
            if (cut == std::wstring::npos)
                break;
            if (CreateDirectoryW(path.c_str(), nullptr))
                made.push_back(path);
            start = cut + 1;
        }
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << "cannot make the file";
        CloseHandle(file);
        made.push_back(path);
        return IdentityOf(path);
    }

    std::wstring root;
    std::vector<std::wstring> made;
};

} // namespace

TEST(Win32CodePageTest, ExactConversionRefusesBestFit)
{
    std::string ansi;
    EXPECT_TRUE(platform::WideToAnsiExact(L"C:\\caf\u00e9 & (1).exe", ansi));
    EXPECT_EQ(ansi, "C:\\caf\xe9 & (1).exe");
    EXPECT_FALSE(platform::WideToAnsiExact(L"C:\\tool-\u0101.exe", ansi));
    EXPECT_FALSE(platform::WideToAnsiExact(L"C:\\\u4e2d.exe", ansi));
    EXPECT_FALSE(platform::WideToAnsiExact(L"C:\\x\uFF02.exe", ansi)) << "best fit: a plain quote";
}

// Under code page 1252: every name that the code page does not hold is
// handed over by a path that it does, and none adds an argument.
TEST_F(HostileNamesTest, EveryNameIsOneArgumentThatOpensItsFileInBothViews)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test locale's ANSI code page";
    const std::wstring vault = L"C:\\ProgramData\\Pelorin\\Vault";
    const struct {
        const wchar_t* name;
        bool exact; // the code page holds it: today's command, byte for byte
    } cases[] = {
        {L"x\uFF02 --log=\uFF02C\uFF1A\uFF3Cpwned.txt\uFF02 \uFF02y.exe", false},
        {L"Pelorin\uFF3CVault\\a.exe", false},
        {L"Downloads\\\u043e\u0442\u0447\u0451\u0442.exe", false},
        {L"\u4e2d\u6587.exe", false},
        {L"zero\u200bwidth.exe", false},
        {L"smile \U0001F600.exe", false},
        {L"caf\u00e9 & (1) %OS% !x!.exe", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const auto file = Make(c.name);
        ASSERT_NE(file.second, 0u);
        std::wstring target;
        const ScanTargetForm form = ScanTargetOf(root, UnitsOfWide(c.name), target);
        ASSERT_NE(form, ScanTargetForm::None);
        EXPECT_EQ(form == ScanTargetForm::Exact, c.exact);
        EXPECT_EQ(form, c.exact ? ScanTargetForm::Exact : ScanTargetForm::ShortPath)
            << "Wine keeps a short name for every long one";
        const std::wstring line = BuildScanCommand(vault, {target});
        if (c.exact)
            EXPECT_EQ(line, L"clamdscan.exe --move=\"" + vault + L"\" \"" + root + L"\\" + c.name + L"\"");

        const std::vector<std::wstring> wide = SplitCommandLine(line);
        ASSERT_EQ(wide.size(), 3u);
        EXPECT_EQ(wide[1], L"--move=" + vault);
        EXPECT_EQ(IdentityOf(wide[2]), file);

        const std::vector<std::string> narrow = NarrowView(line);
        ASSERT_EQ(narrow.size(), 3u);
        EXPECT_EQ(narrow[1], "--move=C:\\ProgramData\\Pelorin\\Vault");
        EXPECT_EQ(IdentityOf(narrow[2]), file);
    }
}

// Run alone, under a locale whose ANSI code page is UTF-8, as on a machine
// with "Use Unicode UTF-8 for worldwide language support": every valid name
// is carried as it is.
TEST(Utf8AnsiCodePageTest, NamesReachTheScannerUnchanged)
{
    ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "needs a UTF-8 ANSI code page";
    const std::wstring path = L"C:\\users\\alice\\Downloads\\caf\u00e9 \u4e2d \U0001F600 \uFF02.exe";
    EXPECT_TRUE(ReachesScannerExactly(path));
    std::string ansi;
    EXPECT_TRUE(platform::WideToAnsiExact(BuildScanCommand(L"C:\\ProgramData\\Pelorin\\Vault", {path}), ansi));
    EXPECT_EQ(ansi, "clamdscan.exe --move=\"C:\\ProgramData\\Pelorin\\Vault\" "
                    "\"C:\\users\\alice\\Downloads\\caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \xef\xbc\x82.exe\"");
    EXPECT_FALSE(ReachesScannerExactly(std::wstring(L"C:\\a") + wchar_t(0xD800)))
        << "a lone surrogate has no UTF-8 form";
}
