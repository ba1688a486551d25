// The directory tree below the watched roots: listings and the state of
// new files.
#include <chrono>
#include <thread>

#include "platform/DirectoryListing.h"
#include "platform/FileAccess.h"
#include "tests/doubles/FakeState.h"

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

// An entry that is not in the tree is missing: records alone say nothing of
// the files they name.
ArrivalLook LookAtArrival(const std::wstring& root, const std::u16string& relative)
{
    const std::wstring path = root + L'\\' + std::wstring(relative.begin(), relative.end());
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    ++p.arrivalChecks;
    p.changed.notify_all();
    ArrivalLook look;
    const auto found = p.tree.find(path);
    if (found == p.tree.end())
        return look;
    if (found->second.directory) {
        look.state = ArrivalState::Folder;
        return look;
    }
    look.size = found->second.size;
    look.lastWrite = found->second.written;
    if (!p.writersKnown)
        look.state = ArrivalState::WriterUnknown;
    else
        look.state = found->second.openForWriting ? ArrivalState::BeingWritten : ArrivalState::NoWriter;
    return look;
}

ArrivalState QueryArrivalState(const std::wstring& root, const std::u16string& relative)
{
    return LookAtArrival(root, relative).state;
}

} // namespace platform
