#include "watch/ScanFilters.h"

#include <string>
#include <vector>

#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "log/LogFiles.h"
#include "platform/FileAccess.h"
#include "watch/ListFileText.h"

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

bool IsInMonitoredFolderList(const wxString& candidate)
{
    const std::wstring path = GetAppDataFolderPath() + kProductSubfolder + L"\\db\\db6";
    if (platform::QueryPathKind(path) != platform::PathKind::File) {
        WriteLogEntry(kErrorWindowLogs,
                      L"Monitoring folder list file not found, please restart antivirus.");
        return false;
    }
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes))
        return false;
    for (const wxString& line : DecodeListFileLines(bytes)) {
        if (candidate.find(line) != wxString::npos)
            return true;
    }
    return false;
}
