#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

// Appends one entry to the named log file in the product folder: CR LF, 75
// hyphens, CR LF, then the formatted message. The format is printf-style
// with "%s" for wide text and "%S" for narrow ANSI text (and "%%").
// Nothing is reported back; a file that cannot be written is skipped.
void WriteLogEntry(const wchar_t* logFileName, const wchar_t* format, ...);

// The message bytes: wide characters up to U+00FF become the byte of the
// same value, every other UTF-16 unit becomes '?'; "%S" text is copied byte
// for byte. In the arguments, every control character (below 0x20, 0x7F to
// 0x9F) is written "<HH>", its value in two hex digits, and "<" is written
// "<3C>": no argument can break a line or forge an entry.
std::string FormatLogMessageV(const wchar_t* format, va_list args);
std::string FormatLogMessage(const wchar_t* format, ...);

// A file time (100 ns units since 1601, UTC) as "YYYY-MM-DD hh:mm:ss UTC",
// for entries that say when something happened.
std::wstring FormatUtcTime(uint64_t fileTime);
