#include "watch/names/Utf16.h"

std::wstring WideOfUnits(const std::u16string& units)
{
    std::wstring wide;
    wide.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if constexpr (sizeof(wchar_t) == 2) {
            wide += static_cast<wchar_t>(unit);
        } else {
            const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() &&
                              units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
            if (pair) {
                wide += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
                ++i;
            } else {
                wide += static_cast<wchar_t>(unit);
            }
        }
    }
    return wide;
}

wxString TextOfUnits(const std::u16string& units)
{
    return wxString(WideOfUnits(units));
}

std::u16string UnitsOfWide(const std::wstring& text)
{
    std::u16string units;
    units.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf16(units, static_cast<uint32_t>(c));
    return units;
}

std::u16string UnitsOf(const wxString& text)
{
    std::u16string units;
    units.reserve(text.length());
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it)
        AppendUtf16(units, static_cast<uint32_t>((*it).GetValue()));
    return units;
}
