#include "platform/SystemErrorText.h"

#include <windows.h>

namespace platform {

std::string FormatSystemMessage(uint32_t code)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (length && buffer)
        text.assign(buffer, length);
    LocalFree(buffer);
    return text;
}

} // namespace platform
