#include "log/LogFile.h"

#include <wx/thread.h>

#include "product/ProductLayout.h"
#include "platform/LogAppend.h"

namespace {

constexpr std::size_t kMaxLogPathChars = 1023;
constexpr std::size_t kSeparatorLength = 75;

} // namespace

std::string FrameLogEntry(const std::string& message)
{
    std::string entry;
    entry.reserve(4 + kSeparatorLength + message.size());
    entry += "\r\n";
    entry.append(kSeparatorLength, '-');
    entry += "\r\n";
    entry += message;
    return entry;
}

std::wstring LogFilePath(const std::wstring& folder, const wchar_t* logFileName)
{
    std::wstring path = ProductFileOf(folder, logFileName);
    if (path.size() > kMaxLogPathChars)
        return std::wstring();
    return path;
}

void AppendLogEntry(const std::wstring& folder, const wchar_t* logFileName,
                    const std::string& message)
{
    const std::wstring path = LogFilePath(folder, logFileName);
    if (path.empty())
        return;
    // The whole entry in one append, so a writer killed later cannot leave
    // half an entry and other processes' appends cannot split it. Appends
    // from threads of this process are also serialised: an append-only
    // handle is not atomic everywhere (measured under Wine: one entry in a
    // few thousand was overwritten by a concurrent one). Watchers are only
    // ever killed while parked, never while they hold this lock.
    static wxCriticalSection appendLock;
    const std::string entry = FrameLogEntry(message);
    wxCriticalSectionLocker locker(appendLock);
    platform::AppendToFile(path, entry);
}
