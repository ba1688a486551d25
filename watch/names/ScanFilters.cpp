#include "watch/names/ScanFilters.h"

#include <string>
#include <vector>

#include "log/AppDataFolder.h"
#include "log/LogEntry.h"
#include "product/ProductLayout.h"
#include "platform/FileAccess.h"
#include "platform/PathCase.h"
#include "watch/names/MonitoredFolderList.h"
#include "watch/names/Utf16.h"

namespace {

const char16_t* const kExcludedExtensions[] = {
    u"jpg", u"jpeg", u"gif", u"png",  u"tif", u"tiff", u"txt", u"docx", u"pdf", u"mp3",
    u"mp4", u"wav",  u"avi", u"mpg",  u"mpeg", u"wmv", u"vob", u"log",  u"tmp",
};

} // namespace

bool IsExcludedExtension(std::u16string_view candidate)
{
    const std::size_t dot = candidate.rfind(u'.');
    const std::u16string_view extension = dot == std::u16string_view::npos ? candidate : candidate.substr(dot + 1);
    for (const char16_t* excluded : kExcludedExtensions) {
        if (extension == excluded)
            return true;
    }
    return false;
}

bool IsInVaultFolder(std::u16string_view candidate)
{
    static const std::u16string vault = UnitsOfWide(VaultBelowProgramData());
    if (candidate.size() < vault.size() || (candidate.size() > vault.size() && candidate[vault.size()] != u'\\'))
        return false;
    return platform::EqualIgnoringCase(candidate.substr(0, vault.size()), vault);
}

bool IsInMonitoredFolderList(std::u16string_view candidate)
{
    // Only the profiles watcher asks, on its own thread; a test thread
    // keeps a list of its own.
    thread_local MonitoredFolderList list;
    // The program-data folder is asked once it has been found: the shell's
    // answer costs more than all the rest of the test (a millisecond under
    // Wine), and the watchers do not follow a moved folder either. Until it
    // is found every call asks, and reports a failure, again.
    thread_local std::wstring programData;
    if (programData.empty())
        programData = GetAppDataFolderPath();
    const std::wstring path = ProductFileOf(programData, kMonitoredFolderListName);
    switch (list.Test(path, candidate)) {
    case MonitoredFolderList::Answer::Listed:
        return true;
    case MonitoredFolderList::Answer::NotListed:
        return false;
    case MonitoredFolderList::Answer::Missing:
        break;
    }
    WriteLogEntry(kErrorWindowLogs, L"Monitoring folder list file not found, please restart antivirus.");
    return false;
}

bool AnyLineOccursIn(std::u16string_view candidate, const std::vector<wxString>& lines)
{
    for (const wxString& line : lines) {
        if (candidate.find(UnitsOf(line)) != std::u16string_view::npos)
            return true;
    }
    return false;
}
