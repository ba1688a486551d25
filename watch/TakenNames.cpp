#include "watch/TakenNames.h"

void TakenNames::Add(platform::FileTime takenAt, const std::u16string& name)
{
    if (m_order.size() >= m_capacity)
        ForgetOldest();
    m_order.emplace_back(takenAt, name);
    ++m_counts[name];
}

void TakenNames::ForgetBefore(platform::FileTime time)
{
    while (!m_order.empty() && m_order.front().first < time)
        ForgetOldest();
}

bool TakenNames::Contains(const std::u16string& name) const
{
    return m_counts.count(name) != 0;
}

void TakenNames::ForgetOldest()
{
    const auto found = m_counts.find(m_order.front().second);
    if (--found->second == 0)
        m_counts.erase(found);
    m_order.pop_front();
}
