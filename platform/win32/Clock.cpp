#include "platform/Clock.h"

#include <windows.h>

namespace platform {

FileTime CurrentFileTime()
{
    // The same clock, at the same granularity, that stamps file times.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<FileTime>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint64_t MonotonicMilliseconds()
{
    return GetTickCount64();
}

} // namespace platform
