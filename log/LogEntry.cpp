#include "log/LogEntry.h"

#include <wx/thread.h>

#include <cwchar>

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

std::wstring FormatUtcTime(uint64_t fileTime)
{
    // Days from 1601-01-01 to 1970-01-01, then the civil date of a day count
    // by the usual era arithmetic, so no runtime's time zone or range is
    // involved.
    constexpr int64_t kDaysTo1970 = 134774;
    const uint64_t seconds = fileTime / 10000000;
    const int64_t days = static_cast<int64_t>(seconds / 86400) - kDaysTo1970;
    const unsigned secondOfDay = static_cast<unsigned>(seconds % 86400);
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    wchar_t text[40];
    std::swprintf(text, 40, L"%04lld-%02lld-%02lld %02u:%02u:%02u UTC", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), secondOfDay / 3600,
                  secondOfDay / 60 % 60, secondOfDay % 60);
    return text;
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
