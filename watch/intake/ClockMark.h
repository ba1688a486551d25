#pragma once
#include <cstdint>

#include "platform/Clock.h"

// One reading of both clocks: the wall clock, which stamps file times and
// can be set back, and the monotonic one, which never jumps.
struct ClockMark {
    platform::FileTime wall = 0;
    uint64_t monotonicMs = 0;
};

inline ClockMark ReadClocks()
{
    return ClockMark{platform::CurrentFileTime(), platform::MonotonicMilliseconds()};
}

// File times count 100 ns units.
inline constexpr platform::FileTime kFileTicksPerMs = 10000;
