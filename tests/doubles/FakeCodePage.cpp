// A small stand-in for code page 1252: U+0000..U+00FF map to the byte of the
// same value, a few letters have a best fit, everything else becomes '?'.
#include "platform/CodePage.h"

namespace {

char BestFit(char16_t unit)
{
    switch (unit) {
    case u'\u0101': return 'a'; // a with macron
    case u'\u0141': return 'L'; // L with stroke
    case u'\u0161': return 's'; // s with caron
    default: return '?';
    }
}

} // namespace

namespace platform {

std::string Utf16ToAnsiBestFit(const char16_t* text, std::size_t units)
{
    std::string ansi;
    ansi.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = text[i];
        ansi += unit <= 0xFF ? static_cast<char>(unit) : BestFit(unit);
    }
    return ansi;
}

bool WideToAnsiExact(const std::wstring& text, std::string& ansi)
{
    ansi.clear();
    for (wchar_t c : text) {
        if (static_cast<unsigned long>(c) > 0xFF) {
            ansi.clear();
            return false;
        }
        ansi += static_cast<char>(c);
    }
    return true;
}

bool AnsiToWide(const std::string& ansi, std::wstring& text)
{
    text.clear();
    for (char c : ansi)
        text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return true;
}

} // namespace platform
