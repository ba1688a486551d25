#include "watch/ScanFilters.h"

#include <string>
#include <vector>

#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "product/ProductLayout.h"
#include "platform/FileAccess.h"
#include "platform/PathCase.h"
#include "watch/ListFileText.h"
#include "watch/Utf16.h"

namespace {

const wchar_t* const kExcludedExtensions[] = {
    L"jpg", L"jpeg", L"gif", L"png",  L"tif", L"tiff", L"txt", L"docx", L"pdf", L"mp3",
    L"mp4", L"wav",  L"avi", L"mpg",  L"mpeg", L"wmv", L"vob", L"log",  L"tmp",
};

} // namespace

bool IsExcludedExtension(const wxString& candidate)
{
    const wxString extension = candidate.AfterLast('.');
    for (const wchar_t* excluded : kExcludedExtensions) {
        if (extension == excluded)
            return true;
    }
    return false;
}

bool IsInVaultFolder(const wxString& candidate)
{
    const std::wstring vault = VaultBelowProgramData();
    const std::wstring name = candidate.ToStdWstring();
    if (name.size() < vault.size() || (name.size() > vault.size() && name[vault.size()] != L'\\'))
        return false;
    return platform::EqualIgnoringCase(name.substr(0, vault.size()), vault);
}

bool IsInMonitoredFolderList(const wxString& candidate)
{
    const std::wstring path = ProductFileOf(GetAppDataFolderPath(), kMonitoredFolderListName);
    if (platform::QueryPathKind(path) != platform::PathKind::File) {
        WriteLogEntry(kErrorWindowLogs,
                      L"Monitoring folder list file not found, please restart antivirus.");
        return false;
    }
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes))
        return false;
    return AnyLineOccursIn(candidate, DecodeListFileLines(bytes));
}

bool AnyLineOccursIn(const wxString& candidate, const std::vector<wxString>& lines)
{
    const std::u16string units = UnitsOf(candidate);
    for (const wxString& line : lines) {
        if (units.find(UnitsOf(line)) != std::u16string::npos)
            return true;
    }
    return false;
}
