#include "platform/KnownFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <userenv.h>

namespace platform {

bool GetProgramDataFolder(std::wstring& folder)
{
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path);
    const bool ok = SUCCEEDED(hr) && path;
    if (ok)
        folder = path;
    CoTaskMemFree(path);
    return ok;
}

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
