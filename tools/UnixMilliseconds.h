#pragma once
// The time in milliseconds since the Unix epoch, so that the fixtures'
// records compare with times taken on the Linux side of a test.
#include <windows.h>

inline unsigned long long UnixMilliseconds()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return t / 10000ULL - 11644473600000ULL;
}
