#include "platform/KnownFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

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

} // namespace platform
