// Lists folders with the Win32 adapter, whose first read of a folder runs on
// another thread while the caller waits where it could be stopped. The
// reads here wait for it not at all, so that they meet it still running.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "platform/DirectoryListing.h"
#include "platform/WatcherWait.h"

namespace {

constexpr int kFiles = 1000;

// Reads the listing to its end as the watcher does, parking on the first
// read; each name once, folders marked with a trailing backslash.
std::multiset<std::u16string> ReadAll(platform::FolderListing listing, int& waits)
{
    std::multiset<std::u16string> names;
    std::vector<platform::DirectoryEntry> entries;
    for (;;) {
        const platform::ListingRead read = platform::ReadFolderListing(listing, entries, 0);
        if (read == platform::ListingRead::End)
            return names;
        if (read == platform::ListingRead::Waiting) {
            ++waits;
            platform::WaitForWork(nullptr, nullptr, listing, 10000);
            continue;
        }
        for (const platform::DirectoryEntry& entry : entries)
            names.insert(entry.name + (entry.directory ? u"\\" : u""));
    }
}

} // namespace

TEST(Win32FolderListingTest, EveryEntryOnceAndAListingClosedDuringItsFirstReadLeavesNoHarm)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring root = std::wstring(temp) + L"pelmon-listing-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    std::multiset<std::u16string> expected{u"sub\\"};
    ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring name = L"f" + std::to_wstring(i) + L".tmp";
        HANDLE file = CreateFileW((root + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        expected.insert(std::u16string(name.begin(), name.end()));
    }

    // Closed right after the first read began, again and again: the read
    // ends on its own thread with nothing of the listing gone.
    int closedWhileReading = 0;
    for (int trial = 0; trial < 20; ++trial) {
        const platform::FolderListing listing = platform::OpenFolderListing(root, u"");
        ASSERT_NE(listing, nullptr);
        std::vector<platform::DirectoryEntry> entries;
        closedWhileReading += platform::ReadFolderListing(listing, entries, 0) == platform::ListingRead::Waiting;
        platform::CloseFolderListing(listing);
    }
    EXPECT_GT(closedWhileReading, 0) << "no listing was closed during its first read";

    int waits = 0;
    const platform::FolderListing listing = platform::OpenFolderListing(root, u"");
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(ReadAll(listing, waits), expected);
    platform::CloseFolderListing(listing);
    EXPECT_GE(waits, 1);

    for (int i = 0; i < kFiles; ++i)
        DeleteFileW((root + L"\\f" + std::to_wstring(i) + L".tmp").c_str());
    RemoveDirectoryW((root + L"\\sub").c_str());
    RemoveDirectoryW(root.c_str());
}
