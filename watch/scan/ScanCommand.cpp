#include "watch/scan/ScanCommand.h"

namespace {

void AppendQuoted(std::wstring& line, const std::wstring& argument)
{
    // Backslashes are literal except before a quote: there each one is
    // doubled, and the quote is escaped, so neither ends the argument.
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'"')
            line.append(backslashes + 1, L'\\');
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        line += c;
    }
    line.append(backslashes, L'\\');
    line += L'"';
}

} // namespace

std::wstring BuildScanCommand(const std::wstring& vault, const std::vector<std::wstring>& targets)
{
    std::wstring command = std::wstring(kScannerProgram) + L" --move=";
    AppendQuoted(command, vault);
    for (const std::wstring& target : targets) {
        command += L' ';
        AppendQuoted(command, target);
    }
    return command;
}

std::size_t CommandCharsOf(const std::wstring& target)
{
    std::wstring quoted;
    AppendQuoted(quoted, target);
    return quoted.size() + 1;
}

std::wstring BuildPingCommand()
{
    return std::wstring(kScannerProgram) + L" --ping=1";
}
