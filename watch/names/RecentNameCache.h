#pragma once
#include <string>
#include <string_view>
#include <vector>

// The names a watcher has recently handed to the scanner. Emptied whole
// once it holds 100 names, so memory and lookup cost stay bounded.
class RecentNameCache {
public:
    static constexpr std::size_t kCapacity = 100;

    // True when `candidate` was not in the cache and has now been appended.
    bool AdmitCandidate(std::u16string_view candidate);

    std::size_t Size() const { return m_names.size(); }

private:
    std::vector<std::u16string> m_names;
};
