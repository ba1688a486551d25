// A small stand-in for code page 1252: U+0000..U+00FF are the byte of the
// same value; everything else has no exact form.
#include "platform/CodePage.h"

namespace platform {

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

} // namespace platform
