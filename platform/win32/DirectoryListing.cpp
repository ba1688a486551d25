#include "platform/DirectoryListing.h"

#include <windows.h>

#include "platform/win32/LongPath.h"

namespace platform {

namespace {

FileTime TimeOf(const LARGE_INTEGER& time)
{
    return static_cast<FileTime>(time.QuadPart);
}

} // namespace

bool ListDirectory(const std::wstring& root, const std::u16string& relative,
                   std::vector<DirectoryEntry>& entries)
{
    entries.clear();
    // The folder itself is opened as it is: if it is a reparse point, it is
    // not followed.
    HANDLE folder = CreateFileW(LongPathOf(root, relative).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    // DWORD-aligned, as the records require.
    std::vector<DWORD> buffer(16384);
    bool ok = true;
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
         kind = FileIdBothDirectoryInfo) {
        if (!GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(DWORD)))) {
            ok = GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
        const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::u16string name(reinterpret_cast<const char16_t*>(info->FileName),
                                      info->FileNameLength / sizeof(WCHAR));
            if (name != u"." && name != u"..") {
                DirectoryEntry entry;
                entry.name = name;
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
    CloseHandle(folder);
    return ok;
}

} // namespace platform
