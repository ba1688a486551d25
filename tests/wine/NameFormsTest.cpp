// Short and long forms of real names, and files named like devices, with
// the Win32 adapter: the system's own answers are what the logic meets.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/FileAccess.h"
#include "watch/names/LongNames.h"
#include "watch/scan/ScanDispatch.h"
#include "watch/names/Utf16.h"

namespace {

// Made by the literal path, as a dropper makes CON.exe.
void Make(const std::wstring& path)
{
    HANDLE file = CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
}

std::wstring SystemShortPath(const std::wstring& path)
{
    wchar_t buffer[1024];
    const DWORD length = GetShortPathNameW((L"\\\\?\\" + path).c_str(), buffer, 1024);
    return length > 4 && length < 1024 ? std::wstring(buffer + 4, length - 4) : std::wstring();
}

class Win32NameFormsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        root = std::wstring(temp) + L"pelmon-forms-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::wstring(test->name(), test->name() + std::strlen(test->name()));
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    }

    std::wstring root;
};

} // namespace

TEST_F(Win32NameFormsTest, ShortAliasesOfRealNamesAreMadeLong)
{
    const std::wstring folder = root + L"\\Downloads folder";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    Make(folder + L"\\setup for everyone.exe");
    Make(folder + L"\\gone soon.exe");
    const std::wstring shortFile = SystemShortPath(folder + L"\\setup for everyone.exe");
    const std::wstring shortGone = SystemShortPath(folder + L"\\gone soon.exe");
    // The test means something only where the volume keeps short names.
    ASSERT_NE(shortFile.find(L'~', shortFile.rfind(L'\\')), std::wstring::npos) << testing::PrintToString(shortFile);
    ASSERT_NE(shortGone.find(L'~'), std::wstring::npos) << "no short name: " << testing::PrintToString(shortGone);
    // The system shortens the root's own components too; the names below it
    // are what records give.
    const std::wstring shortRoot = SystemShortPath(root);
    ASSERT_EQ(shortFile.compare(0, shortRoot.size() + 1, shortRoot + L"\\"), 0);
    const std::wstring shortFolder = shortFile.substr(0, shortFile.rfind(L'\\'));
    ASSERT_GT(shortFolder.size(), shortRoot.size());
    ASSERT_NE(shortFolder.find(L'~', shortRoot.size()), std::wstring::npos);

    const auto relative = [&](const std::wstring& path) { return UnitsOfWide(path.substr(shortRoot.size() + 1)); };
    const std::u16string longFolder = u"Downloads folder";
    EXPECT_EQ(LongNameOf(root, relative(shortFile)), longFolder + u"\\setup for everyone.exe");
    EXPECT_EQ(LongNameOf(root, relative(shortFolder) + u"\\setup for everyone.exe"),
              longFolder + u"\\setup for everyone.exe");
    EXPECT_EQ(LongNameOf(root, relative(shortFolder)), longFolder);

    ASSERT_TRUE(DeleteFileW((folder + L"\\gone soon.exe").c_str()));
    EXPECT_EQ(LongNameOf(root, relative(shortGone)), relative(shortGone)) << "a file gone keeps its name";
}

TEST_F(Win32NameFormsTest, AFileNamedLikeADeviceIsScannedByAFormThatOpensIt)
{
    Make(root + L"\\CON.exe");
    Make(root + L"\\con .exe");
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + root + L"\\nul").c_str(), nullptr));
    Make(root + L"\\nul\\a.exe");

    // Asked by the literal path, the short form names the file, not the
    // console; CON.exe is a valid 8.3 name and its own short name.
    std::wstring shortPath;
    ASSERT_TRUE(platform::ShortPathOf(root + L"\\CON.exe", shortPath));
    EXPECT_EQ(shortPath.substr(shortPath.rfind(L'\\') + 1), L"CON.exe");
    ASSERT_TRUE(platform::ShortPathOf(root + L"\\con .exe", shortPath));
    EXPECT_NE(shortPath.find(L'~'), std::wstring::npos) << testing::PrintToString(shortPath);

    std::wstring target;
    EXPECT_EQ(ScanTargetOf(root, u"CON.exe", target), ScanTargetForm::Folder);
    EXPECT_EQ(target, root);
    EXPECT_EQ(ScanTargetOf(root, u"con .exe", target), ScanTargetForm::ShortPath);
    EXPECT_EQ(target, shortPath);
    EXPECT_EQ(ScanTargetOf(root, u"CONSOLE.exe", target), ScanTargetForm::Exact);
    // A folder named like a device is its own short name too: the scan
    // goes to the folder above it.
    EXPECT_EQ(ScanTargetOf(root, u"nul\\a.exe", target), ScanTargetForm::Folder);
    EXPECT_EQ(target, root);
}
