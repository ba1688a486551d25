#include "watch/names/RecentNameCache.h"

bool RecentNameCache::AdmitCandidate(std::u16string_view candidate)
{
    if (m_names.size() >= kCapacity)
        m_names.clear();
    for (const std::u16string& name : m_names) {
        // Exact unit-for-unit comparison, case-sensitive.
        if (name == candidate)
            return false;
    }
    m_names.emplace_back(candidate);
    return true;
}
