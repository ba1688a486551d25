#pragma once
#include <cstdint>

// Appends one Unicode scalar value as UTF-16 code units: a surrogate pair
// above U+FFFF. The Windows build's wxString holds text this way.
template <typename Units> void AppendUtf16(Units& units, uint32_t c)
{
    using Unit = typename Units::value_type;
    if (c > 0xFFFF) {
        units += static_cast<Unit>(0xD800 + ((c - 0x10000) >> 10));
        units += static_cast<Unit>(0xDC00 + ((c - 0x10000) & 0x3FF));
        return;
    }
    units += static_cast<Unit>(c);
}
