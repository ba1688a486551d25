// What the monitor relies on from the library's start-up in the Windows build.
#include <gtest/gtest.h>
#include <windows.h>

#include <clocale>
#include <cstring>

TEST(LibraryStartupTest, NoCriticalErrorOrMissingFileMessageBoxes)
{
    // The test main starts the library as the monitor does.
    const UINT mode = GetErrorMode();
    EXPECT_EQ(mode & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
              UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
}

TEST(LibraryStartupTest, RuntimeLocaleStaysClassic)
{
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}
