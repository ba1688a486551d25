// Entries written at the same moment by several threads each land whole, in
// the real product folder, through the Win32 append.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "log/LogFile.h"
#include "platform/FileAccess.h"

TEST(ConcurrentLogTest, EveryEntryLandsWhole)
{
    const std::wstring product = GetAppDataFolderPath() + L"\\Pelorin";
    CreateDirectoryW(product.c_str(), nullptr);
    const std::wstring path = product + L"\\ConcurrentTest.txt";
    DeleteFileW(path.c_str());

    constexpr int kPerThread = 3000;
    const wchar_t* messages[] = {L"first writer %s", L"second writer, longer text %s"};
    std::vector<std::thread> writers;
    for (const wchar_t* message : messages) {
        writers.emplace_back([message] {
            for (int i = 0; i < kPerThread; ++i)
                WriteLogEntry(L"ConcurrentTest.txt", message, L"x");
        });
    }
    for (std::thread& writer : writers)
        writer.join();

    std::string bytes;
    ASSERT_TRUE(platform::ReadWholeFile(path, bytes));
    const std::string a = FrameLogEntry("first writer x"), b = FrameLogEntry("second writer, longer text x");
    std::size_t at = 0, countA = 0, countB = 0;
    while (at < bytes.size()) {
        if (bytes.compare(at, a.size(), a) == 0) {
            at += a.size();
            ++countA;
        } else if (bytes.compare(at, b.size(), b) == 0) {
            at += b.size();
            ++countB;
        } else {
            FAIL() << "torn or overwritten entry at byte " << at;
        }
    }
    EXPECT_EQ(countA, std::size_t(kPerThread));
    EXPECT_EQ(countB, std::size_t(kPerThread));
    DeleteFileW(path.c_str());
}
