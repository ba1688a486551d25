#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "platform/DirectoryListing.h"
#include "tests/doubles/FakePlatform.h"

namespace platform {

bool ListDirectory(const std::wstring& root, const std::u16string& relative,
                   std::vector<DirectoryEntry>& entries)
{
    entries.clear();
    std::wstring folder = root;
    if (!relative.empty())
        folder += L'\\' + std::wstring(relative.begin(), relative.end());
    fake::Platform& p = fake::State();
    unsigned delay;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        ++p.listings;
        p.changed.notify_all();
        delay = p.listingDelayMicroseconds;
        if (p.unreadableFolders.count(folder))
            return false;
        const std::wstring prefix = folder + L'\\';
        for (auto it = p.tree.lower_bound(prefix);
             it != p.tree.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            const std::wstring name = it->first.substr(prefix.size());
            if (name.find(L'\\') != std::wstring::npos)
                continue; // deeper down
            DirectoryEntry entry;
            entry.name.assign(name.begin(), name.end());
            entry.directory = it->second.directory;
            entry.reparsePoint = it->second.reparsePoint;
            entry.created = it->second.created;
            entry.written = it->second.written;
            entry.changed = it->second.changed;
            entries.push_back(entry);
        }
    }
    if (delay)
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    return true;
}

FileTime CurrentFileTime()
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return fake::State().fileTime;
}

uint64_t MonotonicMilliseconds()
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return fake::State().monotonicMs;
}

} // namespace platform

namespace fake {

void AdvanceClock(uint64_t milliseconds)
{
    std::lock_guard<std::mutex> lock(State().mutex);
    State().fileTime += milliseconds * kTicksPerMillisecond;
    State().monotonicMs += milliseconds;
    State().changed.notify_all();
}

} // namespace fake
