// Looks at new entries with the Win32 adapter. The first look at a root asks
// for an oplock; where the volume grants none (Wine), the later looks read
// the attributes alone. Both kinds must tell the same state, size and time.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/FileAccess.h"

namespace {

void Append(const std::wstring& path, const char* bytes)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(file, bytes, static_cast<DWORD>(strlen(bytes)), &wrote, nullptr));
    CloseHandle(file);
}

} // namespace

TEST(Win32ArrivalLookTest, EveryLookAtAnEntryTellsTheSame)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring root = std::wstring(temp) + L"pelmon-look-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    Append(root + L"\\a.exe", "0123456789");

    // A thread of its own starts with no knowledge of the root's volume.
    std::thread([&] {
        const struct {
            std::u16string name;
            platform::ArrivalState state;
            uint64_t size;
        } entries[] = {
            {u"a.exe", platform::ArrivalState::WriterUnknown, 10},
            {u"sub", platform::ArrivalState::Folder, 0},
            {u"gone.exe", platform::ArrivalState::Missing, 0},
        };
        // A fresh thread starts with the handle and the oplock request.
        ASSERT_FALSE(platform::LooksByAttributesAlone(root));
        for (int round = 0; round < 3; ++round) {
            for (const auto& entry : entries) {
                SCOPED_TRACE(round);
                const platform::ArrivalLook look = platform::LookAtArrival(root, entry.name);
                // Windows grants the oplock on a file nobody writes; where it
                // is refused (Wine), the later looks must read the attributes
                // alone, or their half of this test never ran.
                if (entry.state == platform::ArrivalState::WriterUnknown)
                    EXPECT_TRUE(look.state == platform::ArrivalState::NoWriter ||
                                (look.state == platform::ArrivalState::WriterUnknown &&
                                 platform::LooksByAttributesAlone(root)));
                else
                    EXPECT_EQ(look.state, entry.state);
                EXPECT_EQ(look.size, entry.size);
                EXPECT_EQ(platform::QueryArrivalState(root, entry.name) == platform::ArrivalState::Missing,
                          entry.state == platform::ArrivalState::Missing);
            }
        }
        const platform::ArrivalLook before = platform::LookAtArrival(root, u"a.exe");
        Sleep(20);
        Append(root + L"\\a.exe", "abc");
        const platform::ArrivalLook after = platform::LookAtArrival(root, u"a.exe");
        EXPECT_NE(before.lastWrite, 0u);
        EXPECT_EQ(after.size, 13u);
        EXPECT_GT(after.lastWrite, before.lastWrite);
    }).join();

    DeleteFileW((root + L"\\a.exe").c_str());
    RemoveDirectoryW((root + L"\\sub").c_str());
    RemoveDirectoryW(root.c_str());
}
