#include "log/AppDataFolder.h"

#include "log/LogFile.h"
#include "product/ProductLayout.h"
#include "platform/KnownFolders.h"

std::wstring GetAppDataFolderPath()
{
    std::wstring folder;
    if (platform::GetProgramDataFolder(folder))
        return folder;
    // The folder is known to be unresolvable, so the report goes straight to
    // the fallback location instead of looking the folder up again (which
    // would report again, without end).
    AppendLogEntry(std::wstring(), kErrorFunctionLogs, "In GetAppDataFolderPath, SHGetKnownFolderPath failed.");
    return std::wstring();
}
