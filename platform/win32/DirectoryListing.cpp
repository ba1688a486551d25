#include "platform/DirectoryListing.h"

#include <windows.h>

#include <memory>

#include "platform/win32/LongPath.h"

namespace platform {

struct FolderListingTag {
    HANDLE folder = INVALID_HANDLE_VALUE;
    bool started = false;
    // DWORD-aligned, as the records require. 64 KiB: a few hundred entries,
    // a millisecond or two of work, per batch.
    std::vector<DWORD> buffer = std::vector<DWORD>(16384);
};

namespace {

FileTime TimeOf(const LARGE_INTEGER& time)
{
    return static_cast<FileTime>(time.QuadPart);
}

} // namespace

FolderListing OpenFolderListing(const std::wstring& root, const std::u16string& relative)
{
    // Made first: if memory runs out, no handle is left open.
    auto listing = std::make_unique<FolderListingTag>();
    listing->folder = CreateFileW(LongPathOf(root, relative).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (listing->folder == INVALID_HANDLE_VALUE)
        return nullptr;
    return listing.release();
}

bool ReadFolderListing(FolderListing listing, std::vector<DirectoryEntry>& entries)
{
    entries.clear();
    // A buffer that held only "." and ".." is no batch: read on.
    while (entries.empty()) {
        const FILE_INFO_BY_HANDLE_CLASS kind =
            listing->started ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo;
        if (!GetFileInformationByHandleEx(listing->folder, kind, listing->buffer.data(),
                                          static_cast<DWORD>(listing->buffer.size() * sizeof(DWORD))))
            return false; // ERROR_NO_MORE_FILES at the end, or a read that failed
        listing->started = true;
        const auto* at = reinterpret_cast<const unsigned char*>(listing->buffer.data());
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
    return true;
}

void CloseFolderListing(FolderListing listing)
{
    if (!listing)
        return;
    CloseHandle(listing->folder);
    delete listing;
}

} // namespace platform
