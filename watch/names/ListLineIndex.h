#pragma once
#include <wx/string.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The lines of the monitored-folder list, held so that testing a candidate
// costs what the candidate's length and the number of distinct line lengths
// cost, not what the number of lines costs: every stretch of the candidate
// of a length some line has is looked up by its hash. Empty lines are left
// out: a stray line break would otherwise put every file under the scanner.
// Compared as UTF-16 code units, as the Windows build holds them.
class ListLineIndex {
public:
    ListLineIndex() = default;
    explicit ListLineIndex(const std::vector<wxString>& lines);

    bool OccursIn(std::u16string_view candidate) const;

    // Distinct non-empty lines.
    std::size_t Size() const { return m_lines.size(); }

private:
    void Insert(std::u16string line);
    bool Holds(std::u16string_view stretch, uint64_t hash) const;

    std::vector<std::u16string> m_lines;
    std::vector<uint64_t> m_hashes;   // of each line
    std::vector<std::size_t> m_lengths; // distinct, ascending
    std::vector<uint32_t> m_slots;    // open addressing: a line's position + 1, or 0
};
