#include "watch/scan/ScanDispatch.h"

#include "log/LogEntry.h"
#include "platform/CodePage.h"
#include "platform/FileAccess.h"
#include "product/ProductLayout.h"
#include "watch/names/DeviceNames.h"
#include "watch/scan/ScanCommand.h"
#include "watch/names/Utf16.h"
#include "watch/Invariant.h"

namespace {

// The path itself, or its short path, when either reaches the scanner
// exactly.
bool ExactFormOf(const std::wstring& path, std::wstring& exact)
{
    if (ReachesScannerExactly(path)) {
        exact = path;
        return true;
    }
    return platform::ShortPathOf(path, exact) && ReachesScannerExactly(exact);
}

} // namespace

bool ReachesScannerExactly(const std::wstring& path)
{
    std::string ansi;
    if (!platform::WideToAnsiExact(path, ansi) || HasDeviceComponent(path))
        return false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const bool componentEnds = i + 1 == path.size() || path[i + 1] == L'\\';
        if (componentEnds && (path[i] == L'.' || path[i] == L' ') && i > 0 && path[i - 1] != L'\\')
            return false;
    }
    return true;
}

ScanTargetForm ScanTargetOf(const std::wstring& root, const std::u16string& name, std::wstring& target)
{
    const std::wstring path = FullPathOf(root, name);
    if (ReachesScannerExactly(path)) {
        target = path;
        return ScanTargetForm::Exact;
    }
    if (platform::ShortPathOf(path, target) && ReachesScannerExactly(target))
        return ScanTargetForm::ShortPath;
    for (std::size_t cut = path.rfind(L'\\'); cut != std::wstring::npos && cut >= root.size();
         cut = cut == 0 ? std::wstring::npos : path.rfind(L'\\', cut - 1)) {
        if (ExactFormOf(path.substr(0, cut), target))
            return ScanTargetForm::Folder;
    }
    target.clear();
    return ScanTargetForm::None;
}

std::wstring FullPathOf(const std::wstring& watchRoot, const std::u16string& name)
{
    return watchRoot + L"\\" + WideOfUnits(name);
}

ScanTargetForm PrepareScanTarget(const std::wstring& watchRoot, const std::u16string& name, std::wstring& target)
{
    const std::wstring path = FullPathOf(watchRoot, name);
    const ScanTargetForm form = ScanTargetOf(watchRoot, name, target);
    switch (form) {
    case ScanTargetForm::Exact:
    case ScanTargetForm::ShortPath:
        return form;
    case ScanTargetForm::Folder:
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: \"%s\" cannot be named to the scanner exactly; its folder "
                      L"\"%s\" is scanned instead.",
                      path.c_str(), target.c_str());
        return form;
    case ScanTargetForm::None:
        break;
    }
    WriteLogEntry(kErrorFunctionLogs,
                  L"In StartScan: \"%s\" cannot be named to the scanner exactly, nor can "
                  L"any folder above it; it was not scanned.",
                  path.c_str());
    return ScanTargetForm::None;
}

ScanStart StartScanCall(const std::wstring& programDataPath, const std::vector<std::wstring>& targets)
{
    PELMON_INVARIANT(!targets.empty());
    ScanStart start;
    std::wstring vault;
    if (!ExactFormOf(VaultFolderOf(programDataPath), vault)) {
        WriteLogEntry(kErrorFunctionLogs,
                      L"In StartScan: the quarantine folder has no exact form in the ANSI code "
                      L"page; \"%s\" was not scanned.",
                      targets.front().c_str());
        start.unscannable = true;
        return start;
    }
    const std::wstring command = BuildScanCommand(vault, targets);
    // Every piece reaches the scanner exactly, so the whole line does: the
    // view of a program with a narrow main is the same line.
    std::string narrow;
    start.unscannable = !platform::WideToAnsiExact(command, narrow);
    if (!start.unscannable)
        start.process = platform::StartScanner(kScannerProgram, command);
    return start;
}
