#pragma once
#include <cstddef>
#include <string>

// What one name is charged against a watcher's bounds on memory: its units
// plus the bookkeeping of a string held in a container, so that a bound
// holds for the memory really used. Every list of names charges by it.
inline std::size_t NameCost(const std::u16string& name)
{
    // The container's slot, and the string's own header and heap block.
    constexpr std::size_t kOverheadBytes = 64;
    return kOverheadBytes + name.size() * sizeof(char16_t);
}
