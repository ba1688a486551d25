#include "watch/ScanDispatch.h"

#include "product/ProductLayout.h"
#include "platform/CodePage.h"

wxString BuildScanCommand(const std::wstring& programDataPath, const std::wstring& watchRoot,
                          const wxString& candidate)
{
    wxString command = wxS("clamdscan.exe --move=\"");
    command += wxString(VaultFolderOf(programDataPath));
    command += wxS("\" \"");
    command += wxString(watchRoot);
    command += wxS("\\");
    command += candidate;
    command += wxS("\"");
    return command;
}

platform::ProcessHandle StartScan(const wxString& command)
{
    std::string narrow;
    if (!platform::WideToAnsiExact(command.ToStdWstring(), narrow) || narrow.empty())
        return nullptr;
    return platform::StartScanner(narrow);
}
