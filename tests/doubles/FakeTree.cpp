// The directory tree below the watched roots: listings and the state of
// new files.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/DirectoryListing.h"
#include "platform/FileAccess.h"
#include "tests/doubles/FakeState.h"

namespace {

std::uintptr_t IdOf(platform::FolderListing listing)
{
    return reinterpret_cast<std::uintptr_t>(listing);
}

} // namespace

namespace platform {

FolderListing OpenFolderListing(const std::wstring& root, const std::u16string& relative)
{
    std::wstring folder = root;
    if (!relative.empty())
        folder += L'\\' + std::wstring(relative.begin(), relative.end());
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    ++p.listings;
    p.changed.notify_all();
    // A reparse point is opened itself, not followed: nothing is listed.
    const auto own = p.tree.find(folder);
    if (p.unreadableFolders.count(folder) || (own != p.tree.end() && own->second.reparsePoint))
        return nullptr;
    const std::uintptr_t id = p.nextListing++;
    p.openListings[id] = fake::ListingCursor{folder, std::wstring()};
    return reinterpret_cast<FolderListing>(id);
}

// Reads on from the cursor in the live tree, so entries made meanwhile
// behind it are seen and those before it are not.
ListingRead ReadFolderListing(FolderListing listing, std::vector<DirectoryEntry>& entries, unsigned)
{
    entries.clear();
    fake::Platform& p = fake::State();
    unsigned delay;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        fake::ListingCursor& cursor = p.openListings.at(IdOf(listing));
        if (!cursor.read && p.firstReadsHeld)
            return ListingRead::Waiting;
        cursor.read = true;
        ++p.listingBatches;
        p.monotonicMs += p.listingBatchMilliseconds;
        p.fileTime += p.listingBatchMilliseconds * fake::kTicksPerMillisecond;
        // Files, not calls: a call names several (a quoted vault, then a
        // quoted path each).
        p.scansAtLastBatch = 0;
        for (const std::wstring& line : p.scanCommandLines)
            p.scansAtLastBatch += (std::count(line.begin(), line.end(), L'"') - 2) / 2;
        p.changed.notify_all();
        delay = p.listingDelayMicroseconds;
        const std::wstring prefix = cursor.folder + L'\\';
        auto it = cursor.last.empty() ? p.tree.lower_bound(prefix) : p.tree.upper_bound(prefix + cursor.last);
        while (it != p.tree.end() && it->first.compare(0, prefix.size(), prefix) == 0 &&
               entries.size() < p.listingBatchEntries) {
            const std::wstring name = it->first.substr(prefix.size());
            const std::size_t cut = name.find(L'\\');
            if (cut != std::wstring::npos) {
                // Deeper down: past the whole subtree ('\\' + 1 sorts right after it).
                it = p.tree.lower_bound(prefix + name.substr(0, cut) + wchar_t(L'\\' + 1));
                continue;
            }
            DirectoryEntry entry;
            entry.name.assign(name.begin(), name.end());
            entry.directory = it->second.directory;
            entry.reparsePoint = it->second.reparsePoint;
            entry.created = it->second.created;
            entry.written = it->second.written;
            entry.changed = it->second.changed;
            entries.push_back(entry);
            cursor.last = name;
            ++it;
        }
    }
    if (delay)
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    return entries.empty() ? ListingRead::End : ListingRead::Batch;
}

void CloseFolderListing(FolderListing listing)
{
    if (!listing)
        return;
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.openListings.erase(IdOf(listing));
    p.changed.notify_all();
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

bool LooksByAttributesAlone(const std::wstring&)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return !fake::State().writersKnown;
}

ArrivalState QueryArrivalState(const std::wstring& root, const std::u16string& relative)
{
    return LookAtArrival(root, relative).state;
}

} // namespace platform
