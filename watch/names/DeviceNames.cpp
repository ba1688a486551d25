#include "watch/names/DeviceNames.h"

namespace {

// The rules are the system's conversion of a path for a device (what
// RtlIsDosDeviceName_U tells), taken wide where versions differ: COM0,
// LPT0, CONIN$ and CONOUT$, and names with an extension, count on every
// version. A file wrongly taken for a device is still scanned, by its short
// name or its folder; a device taken for a file is read instead of it.
wchar_t Folded(wchar_t c)
{
    if (c >= L'a' && c <= L'z')
        return static_cast<wchar_t>(c - L'a' + L'A');
    // The system compares by its upcase table, which makes a dotless i an I.
    if (c == L'\u0131')
        return L'I';
    return c;
}

bool Is(std::wstring_view base, std::wstring_view name)
{
    if (base.size() != name.size())
        return false;
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (Folded(base[i]) != name[i])
            return false;
    }
    return true;
}

bool IsPortDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == L'\u00b9' || c == L'\u00b2' || c == L'\u00b3';
}

} // namespace

bool IsDeviceName(std::wstring_view component)
{
    // What comes from the first dot or colon on is an extension or a stream
    // and does not count; nor do blanks at the end of what is left.
    std::wstring_view base = component.substr(0, component.find_first_of(L".:"));
    while (!base.empty() && base.back() == L' ')
        base.remove_suffix(1);
    for (const wchar_t* name : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (Is(base, name))
            return true;
    }
    return base.size() == 4 && (Is(base.substr(0, 3), L"COM") || Is(base.substr(0, 3), L"LPT")) &&
           IsPortDigit(base[3]);
}

bool HasDeviceComponent(const std::wstring& path)
{
    // The system's path rules take a slash for a backslash.
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find_first_of(L"\\/", start);
        if (IsDeviceName(std::wstring_view(path).substr(start, end - start)))
            return true;
        if (end == std::wstring::npos)
            return false;
        start = end + 1;
    }
}
