#include "platform/CodePage.h"

#include <windows.h>

namespace platform {

namespace {

// Code pages that Windows converts only with flags 0: any flag fails with
// ERROR_INVALID_FLAGS.
bool TakesNoFlags(UINT codePage)
{
    switch (codePage) {
    case 42: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229: case CP_UTF7:
        return true;
    default:
        return codePage >= 57002 && codePage <= 57011;
    }
}

// UTF-8 and GB18030 hold every character, so a conversion to them is exact
// unless the text is not valid UTF-16, which WC_ERR_INVALID_CHARS refuses.
// They take no other flag, and UTF-8 no default-character arguments.
bool HoldsEveryCharacter(UINT codePage)
{
    return codePage == CP_UTF8 || codePage == 54936;
}

int ToMultiByte(UINT codePage, DWORD flags, const std::wstring& text, char* ansi, int bytes,
                BOOL* usedDefault)
{
    return WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), ansi,
                               bytes, nullptr, usedDefault);
}

// For a code page that takes no flags, exactness shows in the way back.
bool RoundTripsUnchanged(UINT codePage, const std::wstring& text, const std::string& ansi)
{
    const int count = static_cast<int>(ansi.size());
    const int needed = MultiByteToWideChar(codePage, 0, ansi.data(), count, nullptr, 0);
    if (needed <= 0)
        return false;
    std::wstring back(static_cast<std::size_t>(needed), L'\0');
    return MultiByteToWideChar(codePage, 0, ansi.data(), count, back.data(), needed) == needed &&
           back == text;
}

} // namespace

bool WideToAnsiExact(const std::wstring& text, std::string& ansi)
{
    ansi.clear();
    if (text.empty())
        return true;
    // Windows refuses WC_NO_BEST_FIT_CHARS and the used-default argument
    // for some code pages, the ANSI code page UTF-8 among them; each is
    // converted with what it accepts and checked the way it allows.
    const UINT codePage = GetACP();
    const bool everyCharacter = HoldsEveryCharacter(codePage);
    const bool noFlags = TakesNoFlags(codePage);
    const DWORD flags = everyCharacter ? WC_ERR_INVALID_CHARS : noFlags ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const usedDefaultArgument = everyCharacter || noFlags ? nullptr : &usedDefault;
    const int needed = ToMultiByte(codePage, flags, text, nullptr, 0, usedDefaultArgument);
    if (needed <= 0 || usedDefault)
        return false;
    ansi.assign(static_cast<std::size_t>(needed), '\0');
    const int written = ToMultiByte(codePage, flags, text, ansi.data(), needed, usedDefaultArgument);
    if (written != needed || usedDefault ||
        (noFlags && !RoundTripsUnchanged(codePage, text, ansi))) {
        ansi.clear();
        return false;
    }
    return true;
}

} // namespace platform
