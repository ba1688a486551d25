#include "platform/DirectoryChanges.h"

#include <cstdlib>

#include "platform/win32/ChangeRequestStorage.h"

namespace platform {

namespace {
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_ACCESS;
}

DirHandle InvalidDirHandle()
{
    return static_cast<DirHandle>(INVALID_HANDLE_VALUE);
}

DirHandle OpenWatchedDirectory(const std::wstring& root, uint32_t& error)
{
    const HANDLE directory =
        CreateFileW(root.c_str(), GENERIC_READ | FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (directory == INVALID_HANDLE_VALUE)
        error = GetLastError();
    return static_cast<DirHandle>(directory);
}

void CloseDirectory(DirHandle handle)
{
    CloseHandle(handle);
}

ChangeRequest* CreateChangeRequest(DirHandle directory, std::size_t bufferBytes)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return nullptr;
    // FILE_NOTIFY_INFORMATION records must start on DWORD boundaries.
    auto* buffer = static_cast<unsigned char*>(_aligned_malloc(bufferBytes, sizeof(DWORD)));
    if (!buffer) {
        CloseHandle(event);
        return nullptr;
    }
    auto* request = new ChangeRequest{};
    request->overlapped.hEvent = event;
    request->directory = directory;
    request->bufferBytes = static_cast<DWORD>(bufferBytes);
    request->buffer = buffer;
    return request;
}

bool IssueChangeRequest(ChangeRequest& request, uint32_t& error)
{
    request.overlapped.Offset = 0;
    request.overlapped.OffsetHigh = 0;
    if (ReadDirectoryChangesW(request.directory, request.buffer, request.bufferBytes, TRUE, kNotifyFilter,
                              &request.bytesReturned, &request.overlapped, nullptr))
        return true;
    error = GetLastError();
    return false;
}

bool ChangeRequestCompleted(ChangeRequest& request)
{
    return WaitForSingleObject(request.overlapped.hEvent, 0) == WAIT_OBJECT_0;
}

CompletedChanges TakeCompletedChanges(ChangeRequest& request)
{
    CompletedChanges changes;
    changes.records = request.buffer;
    DWORD bytes = 0;
    // An overflow completes with no records: as success with 0 bytes on
    // Windows, as ERROR_NOTIFY_ENUM_DIR under Wine. Any other failure says
    // no more about what happened meanwhile, so it counts as a loss too.
    if (!GetOverlappedResult(request.directory, &request.overlapped, &bytes, FALSE) || bytes == 0 ||
        bytes > request.bufferBytes) {
        changes.lost = true;
        return changes;
    }
    changes.bytes = bytes;
    return changes;
}

} // namespace platform
