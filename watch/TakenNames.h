#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/DirectoryListing.h"

// The names taken in from change records lately, with when, so that a
// recovery does not offer a second time what the records delivered.
class TakenNames {
public:
    explicit TakenNames(std::size_t capacity) : m_capacity(capacity) {}

    // Beyond the capacity the oldest names are forgotten: at worst such a
    // name meets the recent-name cache a second time.
    void Add(platform::FileTime takenAt, const std::u16string& name);
    void ForgetBefore(platform::FileTime time);
    bool Contains(const std::u16string& name) const;

private:
    void ForgetOldest();

    std::size_t m_capacity;
    std::deque<std::pair<platform::FileTime, std::u16string>> m_order;
    std::unordered_map<std::u16string, std::size_t> m_counts;
};
