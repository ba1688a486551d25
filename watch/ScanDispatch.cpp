#include "watch/ScanDispatch.h"

#include "product/ProductLayout.h"
#include "platform/CodePage.h"
#include "platform/ScannerProcess.h"

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

void DispatchScan(const wxString& command, KillGate& gate)
{
    std::string narrow;
    if (!platform::WideToAnsiExact(command.ToStdWstring(), narrow) || narrow.empty())
        return;
    const platform::ProcessHandle scanner = platform::StartScanner(narrow);
    if (!scanner)
        return;
    gate.Park();
    platform::WaitForProcessExit(scanner);
    gate.Unpark();
    platform::CloseProcess(scanner);
}
