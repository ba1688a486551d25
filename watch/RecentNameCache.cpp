#include "watch/RecentNameCache.h"

bool RecentNameCache::AdmitCandidate(const wxString& candidate)
{
    if (m_names.size() >= kCapacity)
        m_names.clear();
    for (const wxString& name : m_names) {
        // Exact unit-for-unit comparison, case-sensitive.
        if (name == candidate)
            return false;
    }
    m_names.push_back(candidate);
    return true;
}
