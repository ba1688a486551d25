#include "log/LogEntry.h"

#include <wx/thread.h>

#include "log/AppDataFolder.h"
#include "product/ProductLayout.h"
#include "platform/LogAppend.h"

namespace {

constexpr std::size_t kMaxLogPathChars = 1023;
constexpr std::size_t kSeparatorLength = 75;

void AppendWideAsLatin1(std::string& out, const wchar_t* text)
{
    for (; *text; ++text) {
        const unsigned long c = static_cast<unsigned long>(*text);
        if (c <= 0xFF)
            out += static_cast<char>(c);
        else if (c > 0xFFFF)
            out += "??"; // a surrogate pair where wchar_t is UTF-16
        else
            out += '?';
    }
}

} // namespace

std::string FormatLogMessageV(const wchar_t* format, va_list args)
{
    std::string out;
    for (const wchar_t* p = format; *p; ++p) {
        if (*p != L'%') {
            const wchar_t one[2] = {*p, 0};
            AppendWideAsLatin1(out, one);
            continue;
        }
        switch (p[1]) {
        case L's': {
            const wchar_t* wide = va_arg(args, const wchar_t*);
            AppendWideAsLatin1(out, wide ? wide : L"(null)");
            ++p;
            break;
        }
        case L'S': {
            const char* narrow = va_arg(args, const char*);
            out += narrow ? narrow : "(null)";
            ++p;
            break;
        }
        case L'%':
            out += '%';
            ++p;
            break;
        default:
            // Only the conversions above are ever used; anything else is
            // written as it stands rather than guessed at.
            out += '%';
            break;
        }
    }
    return out;
}

std::string FormatLogMessage(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessageV(format, args);
    va_end(args);
    return message;
}

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

void WriteLogEntry(const wchar_t* logFileName, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string message = FormatLogMessageV(format, args);
    va_end(args);
    AppendLogEntry(GetAppDataFolderPath(), logFileName, message);
}
