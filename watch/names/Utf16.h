#pragma once
#include <wx/string.h>

#include <cstdint>
#include <string>

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

// A name as the file system holds it, in UTF-16 units, as wide text: the
// same units where wchar_t is UTF-16 (Windows); elsewhere each surrogate
// pair becomes its character and a lone surrogate stays as it is, so that
// the way back gives the same units again. No code page is involved:
// nothing is lost or mapped to something else.
std::wstring WideOfUnits(const std::u16string& units);
wxString TextOfUnits(const std::u16string& units);

// The way back.
std::u16string UnitsOf(const wxString& text);
std::u16string UnitsOfWide(const std::wstring& text);
