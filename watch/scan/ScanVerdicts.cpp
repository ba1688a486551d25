#include "watch/scan/ScanVerdicts.h"

namespace {

bool HasControl(const std::string& text)
{
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const std::string tail(suffix);
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The printed lines, without their line breaks.
std::vector<std::string> LinesOf(const std::string& printed)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < printed.size()) {
        std::size_t end = printed.find('\n', start);
        if (end == std::string::npos)
            end = printed.size();
        std::string line = printed.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// The verdict a line's rest gives; Unreported for lines that give none
// ("moved to ...", say).
TargetVerdict VerdictOf(const std::string& rest)
{
    if (rest == "OK")
        return TargetVerdict::Clean;
    if (EndsWith(rest, " FOUND"))
        return TargetVerdict::Found;
    if (EndsWith(rest, " ERROR"))
        return TargetVerdict::Failed;
    return TargetVerdict::Unreported;
}

} // namespace

std::vector<TargetVerdict> ReadVerdicts(const std::string& printed, const std::vector<std::string>& targets)
{
    std::vector<TargetVerdict> verdicts(targets.size(), TargetVerdict::Unreported);
    std::vector<int> lines(targets.size(), 0);
    for (const std::string& line : LinesOf(printed)) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const std::string& target = targets[i];
            if (line.size() < target.size() + 2 || line.compare(0, target.size(), target) != 0 ||
                line.compare(target.size(), 2, ": ") != 0)
                continue;
            const TargetVerdict verdict = VerdictOf(line.substr(target.size() + 2));
            if (verdict == TargetVerdict::Unreported)
                continue;
            verdicts[i] = verdict;
            ++lines[i];
        }
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (lines[i] != 1)
            verdicts[i] = TargetVerdict::Unreported;
    }
    return verdicts;
}

bool MustGoAlone(const std::wstring& target)
{
    for (wchar_t c : target) {
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            return true;
    }
    return target.find(L": ") != std::wstring::npos;
}

std::vector<std::string> FoundBelow(const std::string& printed, const std::string& folder)
{
    std::vector<std::string> found;
    const std::string prefix = folder + "\\";
    for (const std::string& line : LinesOf(printed)) {
        const std::size_t separator = line.rfind(": ");
        if (separator == std::string::npos || line.compare(0, prefix.size(), prefix) != 0 ||
            VerdictOf(line.substr(separator + 2)) != TargetVerdict::Found)
            continue;
        const std::string path = line.substr(0, separator);
        if (!HasControl(path) && path.size() > prefix.size())
            found.push_back(path);
    }
    return found;
}
