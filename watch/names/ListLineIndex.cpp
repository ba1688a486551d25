#include "watch/names/ListLineIndex.h"

#include <algorithm>
#include <random>

#include "watch/names/Utf16.h"

namespace {

// Polynomial hashes modulo the prime 2^61 - 1, with a base drawn at start:
// a list made to collide would have to know it. A collision only costs a
// comparison; the answer never rests on a hash alone.
constexpr uint64_t kPrime = (uint64_t(1) << 61) - 1;

uint64_t Reduce(uint64_t x)
{
    x = (x & kPrime) + (x >> 61);
    return x >= kPrime ? x - kPrime : x;
}

uint64_t MulMod(uint64_t a, uint64_t b)
{
    const unsigned __int128 m = static_cast<unsigned __int128>(a) * b;
    return Reduce((static_cast<uint64_t>(m) & kPrime) + static_cast<uint64_t>(m >> 61));
}

uint64_t Base()
{
    static const uint64_t base = [] {
        std::random_device seed;
        const uint64_t drawn = (uint64_t(seed()) << 32) ^ seed();
        return (1u << 17) + drawn % (kPrime - (1u << 18));
    }();
    return base;
}

uint64_t Step(uint64_t hash, char16_t unit)
{
    return Reduce(MulMod(hash, Base()) + unit + 1);
}

uint64_t HashOf(std::u16string_view text)
{
    uint64_t hash = 0;
    for (char16_t unit : text)
        hash = Step(hash, unit);
    return hash;
}

} // namespace

ListLineIndex::ListLineIndex(const std::vector<wxString>& lines)
{
    std::size_t slots = 16;
    while (slots < 2 * lines.size())
        slots *= 2;
    m_slots.assign(slots, 0);
    for (const wxString& line : lines) {
        if (!line.empty())
            Insert(UnitsOf(line));
    }
    std::sort(m_lengths.begin(), m_lengths.end());
    m_lengths.erase(std::unique(m_lengths.begin(), m_lengths.end()), m_lengths.end());
}

void ListLineIndex::Insert(std::u16string line)
{
    const uint64_t hash = HashOf(line);
    if (Holds(line, hash))
        return;
    std::size_t slot = hash & (m_slots.size() - 1);
    while (m_slots[slot] != 0)
        slot = (slot + 1) & (m_slots.size() - 1);
    m_slots[slot] = static_cast<uint32_t>(m_lines.size() + 1);
    m_lengths.push_back(line.size());
    m_hashes.push_back(hash);
    m_lines.push_back(std::move(line));
}

bool ListLineIndex::Holds(std::u16string_view stretch, uint64_t hash) const
{
    for (std::size_t slot = hash & (m_slots.size() - 1); m_slots[slot] != 0;
         slot = (slot + 1) & (m_slots.size() - 1)) {
        const std::size_t at = m_slots[slot] - 1;
        if (m_hashes[at] == hash && m_lines[at] == stretch)
            return true;
    }
    return false;
}

bool ListLineIndex::OccursIn(std::u16string_view candidate) const
{
    if (m_lines.empty())
        return false;
    const std::size_t n = candidate.size();
    // prefix[i]: the hash of the first i units; power[k]: the base to the k.
    std::vector<uint64_t> prefix(n + 1, 0);
    std::vector<uint64_t> power(n + 1, 1);
    for (std::size_t i = 0; i < n; ++i) {
        prefix[i + 1] = Step(prefix[i], candidate[i]);
        power[i + 1] = MulMod(power[i], Base());
    }
    for (std::size_t length : m_lengths) {
        if (length > n)
            break;
        for (std::size_t start = 0; start + length <= n; ++start) {
            const uint64_t cut = MulMod(prefix[start], power[length]);
            const uint64_t whole = prefix[start + length];
            const uint64_t hash = whole >= cut ? whole - cut : whole + kPrime - cut;
            if (Holds(candidate.substr(start, length), hash))
                return true;
        }
    }
    return false;
}
