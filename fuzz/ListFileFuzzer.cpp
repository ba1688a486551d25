// libFuzzer target: the monitored-folder list from bytes to lines, and the
// match of a candidate against them, line by line and through the index. Every input is checked against a small
// model written here from the rules alone: byte-order marks, RFC 3629, the
// line breaks, and substring search over UTF-16 code units (what the Windows
// build holds).
//
// Input: one byte n, then n UTF-16LE units of candidate, then the file.
#include <wx/init.h>
#include <wx/string.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "watch/names/ListFileText.h"
#include "watch/names/ListLineIndex.h"
#include "watch/names/ScanFilters.h"

namespace {

using Units = std::u16string;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "list-file model disagrees: %s\n", what);
    std::abort();
}

// --- the model ---------------------------------------------------------

bool HasPrefix(const std::string& bytes, std::initializer_list<unsigned char> prefix)
{
    if (bytes.size() < prefix.size())
        return false;
    std::size_t i = 0;
    for (unsigned char b : prefix) {
        if (static_cast<unsigned char>(bytes[i++]) != b)
            return false;
    }
    return true;
}

// RFC 3629, section 4, the byte ranges of each well-formed sequence.
bool IsWellFormedUtf8(const unsigned char* p, std::size_t n)
{
    std::size_t i = 0;
    const auto in = [&](std::size_t k, unsigned lo, unsigned hi) {
        return i + k < n && p[i + k] >= lo && p[i + k] <= hi;
    };
    const auto tail = [&](std::size_t k) { return in(k, 0x80, 0xBF); };
    while (i < n) {
        const unsigned b = p[i];
        std::size_t length = 0;
        if (b <= 0x7F)
            length = 1;
        else if (b >= 0xC2 && b <= 0xDF && tail(1))
            length = 2;
        else if (b == 0xE0 && in(1, 0xA0, 0xBF) && tail(2))
            length = 3;
        else if (((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) && tail(1) && tail(2))
            length = 3;
        else if (b == 0xED && in(1, 0x80, 0x9F) && tail(2))
            length = 3;
        else if (b == 0xF0 && in(1, 0x90, 0xBF) && tail(2) && tail(3))
            length = 4;
        else if (b >= 0xF1 && b <= 0xF3 && tail(1) && tail(2) && tail(3))
            length = 4;
        else if (b == 0xF4 && in(1, 0x80, 0x8F) && tail(2) && tail(3))
            length = 4;
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

void PutScalar(Units& out, uint32_t c)
{
    if (c >= 0x10000) {
        out += char16_t(0xD800 | ((c - 0x10000) >> 10));
        out += char16_t(0xDC00 | ((c - 0x10000) & 0x3FF));
    } else {
        out += char16_t(c);
    }
}

// Only called on well-formed input.
Units Utf8ToUnits(const unsigned char* p, std::size_t n)
{
    Units out;
    for (std::size_t i = 0; i < n;) {
        const unsigned b = p[i];
        const std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = length == 1 ? b : b & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            c = c << 6 | (p[i + k] & 0x3F);
        PutScalar(out, c);
        i += length;
    }
    return out;
}

// The whole text as UTF-16 units, or nothing when the file yields no lines.
std::optional<Units> ModelText(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const auto payload = [&](std::size_t mark) -> std::optional<std::size_t> {
        if (n == mark)
            return std::nullopt; // a mark and nothing else
        return n - mark;
    };
    if (HasPrefix(bytes, {0x00, 0x00, 0xFE, 0xFF}) || HasPrefix(bytes, {0xFF, 0xFE, 0x00, 0x00})) {
        const bool big = p[0] == 0x00;
        const auto length = payload(4);
        if (!length || *length % 4 != 0)
            return std::nullopt;
        Units out;
        for (std::size_t i = 4; i < n; i += 4) {
            const uint32_t c = big ? uint32_t(p[i]) << 24 | uint32_t(p[i + 1]) << 16 |
                                         uint32_t(p[i + 2]) << 8 | p[i + 3]
                                   : uint32_t(p[i + 3]) << 24 | uint32_t(p[i + 2]) << 16 |
                                         uint32_t(p[i + 1]) << 8 | p[i];
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                return std::nullopt;
            PutScalar(out, c);
        }
        return out;
    }
    if (HasPrefix(bytes, {0xEF, 0xBB, 0xBF})) {
        if (!payload(3) || !IsWellFormedUtf8(p + 3, n - 3))
            return std::nullopt;
        return Utf8ToUnits(p + 3, n - 3);
    }
    if (HasPrefix(bytes, {0xFE, 0xFF}) || HasPrefix(bytes, {0xFF, 0xFE})) {
        const bool big = p[0] == 0xFE;
        const auto length = payload(2);
        if (!length || *length % 2 != 0)
            return std::nullopt;
        Units out; // units as they are, lone surrogates too
        for (std::size_t i = 2; i < n; i += 2)
            out += char16_t(big ? p[i] << 8 | p[i + 1] : p[i + 1] << 8 | p[i]);
        return out;
    }
    // One to three bytes that could be the start of a mark.
    static const std::string kMarks[] = {std::string("\xEF\xBB\xBF"), std::string("\x00\x00\xFE\xFF", 4),
                                         std::string("\xFF\xFE\x00\x00", 4), std::string("\xFE\xFF"),
                                         std::string("\xFF\xFE")};
    for (const std::string& mark : kMarks) {
        if (n >= 1 && n < mark.size() && mark.compare(0, n, bytes) == 0)
            return std::nullopt;
    }
    if (IsWellFormedUtf8(p, n))
        return Utf8ToUnits(p, n);
    Units latin1;
    for (std::size_t i = 0; i < n; ++i)
        latin1 += char16_t(p[i]);
    return latin1;
}

// CR LF becomes LF, then every CR becomes LF; the text is cut at each LF,
// and a final LF ends the last line rather than starting an empty one.
std::vector<Units> ModelLines(const Units& text)
{
    Units breaks;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the LF that follows stands for both
        breaks += text[i] == u'\r' ? u'\n' : text[i];
    }
    std::vector<Units> lines;
    Units line;
    for (char16_t u : breaks) {
        if (u == u'\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += u;
        }
    }
    if (!breaks.empty() && breaks.back() != u'\n')
        lines.push_back(line);
    return lines;
}

bool ModelContains(const Units& haystack, const Units& needle)
{
    for (std::size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        std::size_t k = 0;
        while (k < needle.size() && haystack[start + k] == needle[k])
            ++k;
        if (k == needle.size())
            return true;
    }
    return false;
}

// --- from this build's wxString to the model's units ---------------------

Units UnitsOf(const wxString& text)
{
    Units out;
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        const uint32_t c = (*it).GetValue();
        if (c > 0x10FFFF)
            Fail("a character beyond U+10FFFF");
        PutScalar(out, c);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static wxInitializer library; // the monitor runs its logic inside the library's lifetime
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t candidateUnits = std::min<std::size_t>(data[0], (size - 1) / 2);
    Units candidate;
    for (std::size_t i = 0; i < candidateUnits; ++i)
        candidate += char16_t(data[1 + 2 * i] | data[2 + 2 * i] << 8);
    const std::string file(reinterpret_cast<const char*>(data) + 1 + 2 * candidateUnits,
                           size - 1 - 2 * candidateUnits);

    const std::vector<wxString> lines = DecodeListFileLines(file);
    const std::optional<Units> text = ModelText(file);
    const std::vector<Units> expected = text ? ModelLines(*text) : std::vector<Units>{};
    if (lines.size() != expected.size())
        Fail("number of lines");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (UnitsOf(lines[i]) != expected[i])
            Fail("a line's text");
    }

    bool expectMatch = false;
    bool expectListed = false; // by a line that is not empty
    for (const Units& line : expected) {
        const bool found = ModelContains(candidate, line);
        expectMatch = expectMatch || found;
        expectListed = expectListed || (found && !line.empty());
    }
    if (AnyLineOccursIn(candidate, lines) != expectMatch)
        Fail("whether a line occurs in the candidate");
    if (ListLineIndex(lines).OccursIn(candidate) != expectListed)
        Fail("whether the index finds a non-empty line in the candidate");
    return 0;
}
