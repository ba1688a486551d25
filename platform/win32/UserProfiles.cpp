#include "platform/UserProfiles.h"

#include <windows.h>
#include <userenv.h>

namespace platform {

bool GetProfilesRoot(std::wstring& root)
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    // Wine returns a non-zero value other than TRUE on success.
    if (!GetProfilesDirectoryW(buffer, &size))
        return false;
    buffer[MAX_PATH - 1] = L'\0';
    root = buffer;
    return true;
}

} // namespace platform
