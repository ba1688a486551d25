#include "log/LogEntry.h"

#include <cwchar>

#include "log/AppDataFolder.h"
#include "log/LogFile.h"

namespace {

// Text from outside (paths, which a file's creator names; system texts)
// must not shape the log: a CR LF and 75 hyphens inside a file name would
// otherwise start an entry of its own. So each control character of an
// argument (C0, DEL and C1, which a Latin-1 reader may split lines on:
// U+0085 is a line break there) is written as "<" and two hex digits of
// its value, and "<" itself as "<3C>", so every "<" of an argument's text
// begins an escape and the original can be read back. Not a backslash
// form: paths are full of backslashes, and "C:\x\r" would read as a CR.
// Windows forbids "<" in file names, so paths read as they always did.
bool NeedsEscape(unsigned long c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == '<';
}

void AppendEscaped(std::string& out, unsigned long c)
{
    static const char kHex[] = "0123456789ABCDEF";
    out += '<';
    out += kHex[(c >> 4) & 0xF];
    out += kHex[c & 0xF];
    out += '>';
}

void AppendWideAsLatin1(std::string& out, const wchar_t* text)
{
    for (; *text; ++text) {
        const unsigned long c = static_cast<unsigned long>(*text);
        if (NeedsEscape(c))
            AppendEscaped(out, c);
        else if (c <= 0xFF)
            out += static_cast<char>(c);
        else if (c > 0xFFFF)
            out += "??"; // a surrogate pair where wchar_t is UTF-16
        else
            out += '?';
    }
}

void AppendNarrow(std::string& out, const char* text)
{
    for (; *text; ++text) {
        const unsigned long c = static_cast<unsigned char>(*text);
        if (NeedsEscape(c))
            AppendEscaped(out, c);
        else
            out += *text;
    }
}

} // namespace

std::string FormatLogMessageV(const wchar_t* format, va_list args)
{
    std::string out;
    for (const wchar_t* p = format; *p; ++p) {
        // The format is the program's own text, taken as it stands.
        if (*p != L'%') {
            const unsigned long c = static_cast<unsigned long>(*p);
            out += c <= 0xFF ? static_cast<char>(c) : '?';
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
            AppendNarrow(out, narrow ? narrow : "(null)");
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

void WriteLogEntry(const wchar_t* logFileName, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string message = FormatLogMessageV(format, args);
    va_end(args);
    AppendLogEntry(GetAppDataFolderPath(), logFileName, message);
}
