// How the bytes of the monitored-folder list become lines. Pure logic: these
// run in both builds, so the Windows build of the library is checked too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watch/names/ListFileText.h"
#include "watch/names/ListLineIndex.h"

namespace {

std::vector<std::wstring> Lines(const std::string& bytes)
{
    std::vector<std::wstring> out;
    for (const wxString& line : DecodeListFileLines(bytes))
        out.push_back(line.ToStdWstring());
    return out;
}

using L = std::vector<std::wstring>;

std::string Utf16(const std::u16string& text, bool bigEndian)
{
    std::string bytes;
    for (char16_t unit : text) {
        const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
}

std::string Utf32(const std::u32string& text, bool bigEndian)
{
    std::string bytes;
    for (char32_t c : text) {
        char b[4] = {static_cast<char>(c >> 24), static_cast<char>(c >> 16),
                     static_cast<char>(c >> 8), static_cast<char>(c)};
        bytes += bigEndian ? std::string{b[0], b[1], b[2], b[3]} : std::string{b[3], b[2], b[1], b[0]};
    }
    return bytes;
}

} // namespace

TEST(ListFileTextTest, EveryByteOrderMarkGivesTheSameLines)
{
    const L expected = {L"Downloads", L"Caf\u00e9 \u4e2d", L"\U0001F600x"};
    const std::string utf8 = "Downloads\r\nCaf\xc3\xa9 \xe4\xb8\xad\n\xf0\x9f\x98\x80x";
    const std::u16string u16 = u"Downloads\r\nCaf\u00e9 \u4e2d\n\U0001F600x";
    const std::u32string u32 = U"Downloads\r\nCaf\u00e9 \u4e2d\n\U0001F600x";

    EXPECT_EQ(Lines(utf8), expected) << "UTF-8 without a mark";
    EXPECT_EQ(Lines("\xEF\xBB\xBF" + utf8), expected) << "UTF-8 with its mark";
    EXPECT_EQ(Lines(std::string("\xFE\xFF", 2) + Utf16(u16, true)), expected) << "UTF-16 BE";
    EXPECT_EQ(Lines(std::string("\xFF\xFE", 2) + Utf16(u16, false)), expected) << "UTF-16 LE";
    EXPECT_EQ(Lines(std::string("\x00\x00\xFE\xFF", 4) + Utf32(u32, true)), expected) << "UTF-32 BE";
    EXPECT_EQ(Lines(std::string("\xFF\xFE\x00\x00", 4) + Utf32(u32, false)), expected) << "UTF-32 LE";
}

TEST(ListFileTextTest, Utf8IsValidatedByRfc3629)
{
    // Invalid UTF-8 makes a file without a mark ISO-8859-1 and a marked file
    // empty.
    const struct {
        const char* what;
        std::string bytes;
        bool valid;
        L lines; // without the mark
    } cases[] = {
        {"encoded surrogate", "\xed\xa0\x80", false, {L"\u00ed\u00a0\u0080"}},
        {"above U+10FFFF", "\xf4\x90\x80\x80", false, {L"\u00f4\u0090\u0080\u0080"}},
        {"overlong line feed", "Down\xe0\x80\x8aloads", false, {L"Down\u00e0\u0080\u008aloads"}},
        {"overlong two-byte form", "a\xc0\xaf", false, {L"a\u00c0\u00af"}},
        {"bad continuation byte", "\xe4\xb8\x41", false, {L"\u00e4\u00b8A"}},
        {"truncated sequence", "x\xf0\x9f\x98", false, {L"x\u00f0\u009f\u0098"}},
        {"U+10FFFF", "\xf4\x8f\xbf\xbf", true, {L"\U0010FFFF"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Lines(c.bytes), c.lines) << c.what;
        EXPECT_EQ(Lines("\xEF\xBB\xBF" + c.bytes), c.valid ? c.lines : L{}) << c.what << ", marked";
    }
}

TEST(ListFileTextTest, BytesBecomeLines)
{
    const struct {
        const char* what;
        std::string bytes;
        L lines;
    } cases[] = {
        // FF FE 00 00 is UTF-32 LE: "A" follows as 41 00 00 00.
        {"four-byte mark before two-byte mark", std::string("\xFF\xFE\x00\x00\x41\x00\x00\x00", 8), {L"A"}},
        {"not UTF-8, no mark: Latin-1", "Caf\xe9\nDownloads", {L"Caf\u00e9", L"Downloads"}},
        {"one valid UTF-8 sequence does not save the file", "\xc3\xa9 \xe9", {L"\u00c3\u00a9 \u00e9"}},
        // A marked file that does not decode has no lines.
        {"invalid UTF-8 after the UTF-8 mark", "\xEF\xBB\xBF" "Caf\xe9", {}},
        {"odd byte count after UTF-16 LE", std::string("\xFF\xFE" "A\x00" "B", 5), {}},
        {"odd byte count after UTF-16 BE", std::string("\xFE\xFF\x00" "A\x00", 5), {}},
        {"partial UTF-32 unit", std::string("\x00\x00\xFE\xFF\x00\x00\x00", 7), {}},
        {"beyond U+10FFFF", std::string("\xFF\xFE\x00\x00\x00\x00\x11\x00", 8), {}},
        {"UTF-32 surrogate", std::string("\x00\x00\xFE\xFF\x00\x00\xD8\x00", 8), {}},
        // As the Windows build of the library reads it: the unit is copied.
        {"lone surrogate in UTF-16", std::string("\xFF\xFE\x00\xD8" "A\x00", 6),
         {std::wstring{wchar_t(0xD800), L'A'}}},
        {"UTF-16 without a mark keeps its zero bytes", std::string("D\x00o\x00", 4),
         {std::wstring(L"D\0o\0", 4)}},
        // Marks alone, and the first one to three bytes of a mark.
        {"zero bytes", "", {}},
        {"mark", "\xEF\xBB\xBF", {}},
        {"mark", std::string("\x00\x00\xFE\xFF", 4), {}},
        {"mark", std::string("\xFF\xFE\x00\x00", 4), {}},
        {"mark", "\xFE\xFF", {}},
        {"mark", "\xFF\xFE", {}},
        {"start of a mark", "\xEF", {}},
        {"start of a mark", "\xEF\xBB", {}},
        {"start of a mark", std::string("\x00", 1), {}},
        {"start of a mark", std::string("\x00\x00", 2), {}},
        {"start of a mark", std::string("\x00\x00\xFE", 3), {}},
        {"start of a mark", "\xFE", {}},
        {"start of a mark", "\xFF", {}},
        {"start of a mark", std::string("\xFF\xFE\x00", 3), {}},
        // Line breaks.
        {"LF, CR LF and CR mixed", "a\nb\r\nc\rd", {L"a", L"b", L"c", L"d"}},
        {"LF CR is two breaks", "a\n\rb", {L"a", L"", L"b"}},
        {"a final break adds no line", "Downloads\r\n", {L"Downloads"}},
        {"two final breaks", "Downloads\n\n", {L"Downloads", L""}},
        {"two final breaks", "Downloads\r\n\r\n", {L"Downloads", L""}},
        {"two final breaks", "Downloads\n\r", {L"Downloads", L""}},
        {"a single CR LF is one empty line", "\r\n", {L""}},
        {"a first break", "\nDownloads", {L"", L"Downloads"}},
        {"lines are not trimmed", " Downloads \t", {L" Downloads \t"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Lines(c.bytes), c.lines) << c.what << ": " << testing::PrintToString(c.bytes);
}

// Which candidates the lines admit, through the index that spares a test
// the walk over every line.
TEST(ListFileTextTest, TheIndexFindsEveryNonEmptyLineAnywhereInACandidate)
{
    const struct {
        const char* bytes;
        const char16_t* candidate;
        bool listed;
    } rows[] = {
        {"Downloads", u"alice\\Downloads\\setup.exe", true},
        {"Downloads", u"alice\\downloads\\setup.exe", false}, // case
        {"Downloads", u"Downloads", true},                      // the whole candidate
        {"Downloads", u"Download", false},                      // longer than the candidate
        {"a\nDownloads\nexe", u"x\\b.ex", false},
        {"x\nsetup.exe", u"alice\\Downloads\\setup.exe", true}, // at the end
        {"Other\nalice", u"alice\\a", true},                      // at the start
        {"\n\n\r\n", u"anything", false},                         // empty lines only
        {"Downloads\nDownloads\nDownloads", u"y\\Downloads", true},   // repeated lines
        {"ab\nabc\nabcd\nbcd", u"xbcdx", true},                   // several lengths
        {"ab\nabc\nabcd\nbcd", u"xbdcx", false},
        {"\xEF\xBB\xBF\xF0\x9F\x98\x80", u"a\U0001F600b", true}, // a surrogate pair
        {"\xFF\xFE\x3D\xD8", u"a\xD83D\xDE00" u"b", true},            // half of one (UTF-16 units)
        {"\xFF\xFE\x3D\xD8", u"a\xDE00" u"b", false},
    };
    for (const auto& row : rows) {
        const std::u16string candidate(row.candidate);
        EXPECT_EQ(ListLineIndex(DecodeListFileLines(row.bytes)).OccursIn(candidate), row.listed)
            << testing::PrintToString(std::string(row.bytes));
    }
    // Many lines, none of which a candidate holds but one.
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "folder" + std::to_string(i) + "\r\n";
    const ListLineIndex index(DecodeListFileLines(many));
    EXPECT_EQ(index.Size(), 20000u);
    EXPECT_TRUE(index.OccursIn(u"alice\\folder19999\\a.exe"));
    EXPECT_FALSE(index.OccursIn(u"alice\\folde\\a.exe"));
}
