#include "watch/names/ListFileText.h"

#include <wx/strconv.h>

#include <cstdint>
#include <cstring>

#include "watch/names/Utf16.h"

namespace {

struct ByteOrderMark {
    const char* bytes;
    std::size_t length;
    int encoding;
};

enum Encoding { Utf8, Utf32Be, Utf32Le, Utf16Be, Utf16Le };

// The four-byte marks come first: FF FE 00 00 is UTF-32, never UTF-16.
const ByteOrderMark kMarks[] = {
    {"\xEF\xBB\xBF", 3, Utf8},         {"\x00\x00\xFE\xFF", 4, Utf32Be},
    {"\xFF\xFE\x00\x00", 4, Utf32Le}, {"\xFE\xFF", 2, Utf16Be},
    {"\xFF\xFE", 2, Utf16Le},
};

bool StartsWith(const std::string& bytes, const char* prefix, std::size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

// A file of one to three bytes that are the start of some mark.
bool IsStartOfMark(const std::string& bytes)
{
    if (bytes.empty() || bytes.size() >= 4)
        return false;
    for (const ByteOrderMark& mark : kMarks) {
        if (bytes.size() < mark.length && std::memcmp(mark.bytes, bytes.data(), bytes.size()) == 0)
            return true;
    }
    return false;
}

bool Convert(const wxMBConv& conversion, const char* data, std::size_t length, wxString& text)
{
    text.clear();
    if (length == 0)
        return true;
    const std::size_t needed = conversion.ToWChar(nullptr, 0, data, length);
    if (needed == wxCONV_FAILED)
        return false;
    wxWCharBuffer wide(needed);
    if (conversion.ToWChar(wide.data(), needed, data, length) == wxCONV_FAILED)
        return false;
    text = wxString(wide.data(), needed);
    return true;
}

// The library's UTF-32 conversion copies units unchecked where wchar_t has
// 32 bits; a value that is no Unicode scalar must fail in every build.
bool IsValidUtf32(const char* data, std::size_t length, bool bigEndian)
{
    if (length % 4 != 0)
        return false;
    for (std::size_t i = 0; i < length; i += 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(data + i);
        const uint32_t c = bigEndian ? (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3])
                                     : (uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
    }
    return true;
}

// Appends one Unicode scalar value as this build's wchar_t holds it: one
// unit where wchar_t has 32 bits, UTF-16 where it has 16, as the library
// does for every other source of text.
void AppendScalar(std::wstring& wide, uint32_t c)
{
    if (sizeof(wchar_t) == 2)
        AppendUtf16(wide, c);
    else
        wide += static_cast<wchar_t>(c);
}

// UTF-8 as RFC 3629 defines it. Decoded here because the library's strict
// conversion still lets overlong forms, encoded surrogates and values above
// U+10FFFF through, and the last cannot be held alike in both builds.
bool DecodeUtf8(const char* data, std::size_t length, wxString& text)
{
    std::wstring wide;
    wide.reserve(length);
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length;) {
        const unsigned lead = b[i];
        if (lead < 0x80) {
            wide += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        // Continuation bytes after the lead, the lead's payload bits, and
        // the smallest value that needs this many bytes (below it the form
        // is overlong). F8..FF began the old five- and six-byte forms.
        std::size_t extra;
        uint32_t c;
        uint32_t smallest;
        if (lead >= 0xC0 && lead < 0xE0) {
            extra = 1;
            c = lead & 0x1F;
            smallest = 0x80;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2;
            c = lead & 0x0F;
            smallest = 0x800;
        } else if (lead >= 0xF0 && lead < 0xF8) {
            extra = 3;
            c = lead & 0x07;
            smallest = 0x10000;
        } else {
            return false;
        }
        if (extra >= length - i)
            return false; // truncated
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((b[i + k] & 0xC0) != 0x80)
                return false;
            c = c << 6 | (b[i + k] & 0x3F);
        }
        if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        AppendScalar(wide, c);
        i += 1 + extra;
    }
    text = wxString(wide);
    return true;
}

// UTF-16 is decoded here rather than by the library: where wchar_t has 16
// bits the library copies the units, lone surrogates included, while where
// it has 32 bits it refuses them. Keeping them as they are gives the same
// lines in every build; only an odd byte count fails.
bool DecodeUtf16(const char* data, std::size_t length, bool bigEndian, wxString& text)
{
    if (length % 2 != 0)
        return false;
    std::wstring wide;
    wide.reserve(length / 2);
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    const auto unitAt = [&](std::size_t i) {
        return static_cast<uint32_t>(bigEndian ? (b[i] << 8 | b[i + 1]) : (b[i + 1] << 8 | b[i]));
    };
    for (std::size_t i = 0; i < length; i += 2) {
        const uint32_t unit = unitAt(i);
        if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit <= 0xDBFF && i + 2 < length) {
            const uint32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                wide += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        wide += static_cast<wchar_t>(unit);
    }
    text = wxString(wide);
    return true;
}

} // namespace

bool DecodeListFileText(const std::string& bytes, wxString& text)
{
    text.clear();
    for (const ByteOrderMark& mark : kMarks) {
        if (!StartsWith(bytes, mark.bytes, mark.length))
            continue;
        const char* payload = bytes.data() + mark.length;
        const std::size_t length = bytes.size() - mark.length;
        if (length == 0)
            return false; // a mark and nothing else
        switch (mark.encoding) {
        case Utf8:
            return DecodeUtf8(payload, length, text);
        case Utf32Be:
            return IsValidUtf32(payload, length, true) &&
                   Convert(wxMBConvUTF32BE(), payload, length, text);
        case Utf32Le:
            return IsValidUtf32(payload, length, false) &&
                   Convert(wxMBConvUTF32LE(), payload, length, text);
        case Utf16Be:
            return DecodeUtf16(payload, length, true, text);
        default:
            return DecodeUtf16(payload, length, false, text);
        }
    }
    if (IsStartOfMark(bytes))
        return false;
    if (DecodeUtf8(bytes.data(), bytes.size(), text))
        return true;
    return Convert(wxConvISO8859_1, bytes.data(), bytes.size(), text);
}

std::vector<wxString> SplitListFileLines(const wxString& text)
{
    std::vector<wxString> lines;
    wxString line;
    bool open = false; // characters since the last break
    for (wxString::const_iterator it = text.begin(); it != text.end(); ++it) {
        const wxUniChar c = *it;
        if (c == '\n' || c == '\r') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (c == '\r') {
                wxString::const_iterator next = it;
                ++next;
                if (next != text.end() && *next == '\n')
                    it = next;
            }
            continue;
        }
        line += c;
        open = true;
    }
    if (open)
        lines.push_back(line);
    return lines;
}

std::vector<wxString> DecodeListFileLines(const std::string& bytes)
{
    wxString text;
    if (!DecodeListFileText(bytes, text))
        return {};
    return SplitListFileLines(text);
}
