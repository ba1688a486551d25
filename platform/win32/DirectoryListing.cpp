#include "platform/DirectoryListing.h"

#include <windows.h>

#include <memory>

#include "platform/win32/FolderListingStorage.h"
#include "platform/win32/LongPath.h"

namespace platform {

namespace {

FileTime TimeOf(const LARGE_INTEGER& time)
{
    return static_cast<FileTime>(time.QuadPart);
}

bool ReadInto(FolderRead& read, FILE_INFO_BY_HANDLE_CLASS kind)
{
    return GetFileInformationByHandleEx(read.folder, kind, read.buffer.data(),
                                        static_cast<DWORD>(read.buffer.size() * sizeof(DWORD))) != FALSE;
}

using ReadShare = std::shared_ptr<FolderRead>;

// `context` is the read's own share, let go once its event is set.
DWORD WINAPI ReadFirst(void* context)
{
    const std::unique_ptr<ReadShare> share(static_cast<ReadShare*>(context));
    FolderRead& read = **share;
    read.firstReadOk = ReadInto(read, FileIdBothDirectoryRestartInfo);
    SetEvent(read.firstReadEnded);
    return 0;
}

void TakeBatch(const std::vector<DWORD>& buffer, std::vector<DirectoryEntry>& entries)
{
    const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
        const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
        std::u16string name(reinterpret_cast<const char16_t*>(info->FileName),
                            info->FileNameLength / sizeof(WCHAR));
        if (name != u"." && name != u"..") {
            DirectoryEntry entry;
            entry.name = std::move(name);
            entry.directory = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entry.reparsePoint = (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.created = TimeOf(info->CreationTime);
            entry.written = TimeOf(info->LastWriteTime);
            entry.changed = TimeOf(info->ChangeTime);
            entries.push_back(std::move(entry));
        }
        if (info->NextEntryOffset == 0)
            break;
        at += info->NextEntryOffset;
    }
}

} // namespace

FolderListing OpenFolderListing(const std::wstring& root, const std::u16string& relative)
{
    const std::wstring path = LongPathOf(root, relative);
    // A link below the root leads elsewhere: what lies behind it did not
    // arrive in this tree. Asked by its path: Wine opens a link's target
    // whatever the flags, and the handle's attributes are the target's.
    if (!relative.empty()) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return nullptr;
    }
    // Made first: if memory runs out, no handle is left open.
    auto listing = std::make_unique<FolderListingTag>();
    listing->read = std::make_shared<FolderRead>();
    FolderRead& read = *listing->read;
    read.folder = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (read.folder == INVALID_HANDLE_VALUE)
        return nullptr;
    read.firstReadEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!read.firstReadEnded)
        return nullptr; // the folder is closed with it
    return listing.release();
}

ListingRead ReadFolderListing(FolderListing listing, std::vector<DirectoryEntry>& entries,
                              unsigned firstReadWaitMs)
{
    entries.clear();
    FolderRead& read = *listing->read;
    if (!listing->firstTaken) {
        if (!listing->firstAsked) {
            // Made before the read is asked for: if memory runs out, none is.
            void* const share = new ReadShare(listing->read);
            listing->firstAsked = true;
            // Without a thread for it, read here: slow under Wine, never wrong.
            if (!QueueUserWorkItem(ReadFirst, share, WT_EXECUTELONGFUNCTION))
                ReadFirst(share);
        }
        if (WaitForSingleObject(read.firstReadEnded, firstReadWaitMs) != WAIT_OBJECT_0)
            return ListingRead::Waiting;
        listing->firstTaken = true;
        if (!read.firstReadOk)
            return ListingRead::End;
        TakeBatch(read.buffer, entries);
    }
    // A buffer that held only "." and ".." is no batch: read on.
    while (entries.empty()) {
        if (!ReadInto(read, FileIdBothDirectoryInfo))
            return ListingRead::End; // ERROR_NO_MORE_FILES at the end, or a read that failed
        TakeBatch(read.buffer, entries);
    }
    return ListingRead::Batch;
}

// The first read, if it still runs, holds its own share.
void CloseFolderListing(FolderListing listing)
{
    delete listing;
}

} // namespace platform
