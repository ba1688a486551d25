#include "platform/CodePage.h"

#include <windows.h>

namespace platform {

std::string Utf16ToAnsiBestFit(const char16_t* text, std::size_t units)
{
    if (units == 0)
        return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    const int count = static_cast<int>(units);
    const int needed = WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string ansi(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(CP_ACP, 0, wide, count, ansi.data(), needed, nullptr, nullptr);
    ansi.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return ansi;
}

bool WideToAnsiExact(const std::wstring& text, std::string& ansi)
{
    ansi.clear();
    if (text.empty())
        return true;
    const int count = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), count,
                                           nullptr, 0, nullptr, &usedDefault);
    if (needed <= 0 || usedDefault)
        return false;
    ansi.assign(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), count,
                                            ansi.data(), needed, nullptr, &usedDefault);
    if (written != needed || usedDefault) {
        ansi.clear();
        return false;
    }
    return true;
}

bool AnsiToWide(const std::string& ansi, std::wstring& text)
{
    text.clear();
    if (ansi.empty())
        return true;
    const int count = static_cast<int>(ansi.size());
    const int needed =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), count, nullptr, 0);
    if (needed <= 0)
        return false;
    text.assign(static_cast<std::size_t>(needed), L'\0');
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), count, text.data(),
                               needed) == needed;
}

} // namespace platform
