#include "platform/DirectoryChanges.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

struct ChangeRequest {
    OVERLAPPED overlapped;
    DWORD bytesReturned; // handed to every request, never read
    DWORD bufferBytes;
    unsigned char* buffer;
};

namespace {
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_ACCESS;
}

DirHandle InvalidDirHandle()
{
    return INVALID_HANDLE_VALUE;
}

DirHandle OpenWatchedDirectory(const std::wstring& root)
{
    return CreateFileW(root.c_str(), GENERIC_READ | FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
}

void CloseDirectory(DirHandle handle)
{
    CloseHandle(handle);
}

ChangeRequest* CreateChangeRequest(std::size_t bufferBytes)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return nullptr;
    // FILE_NOTIFY_INFORMATION records must start on DWORD boundaries.
    auto* buffer = static_cast<unsigned char*>(_aligned_malloc(bufferBytes, sizeof(DWORD)));
    auto* request = new ChangeRequest{};
    request->overlapped.hEvent = event;
    request->bufferBytes = static_cast<DWORD>(bufferBytes);
    request->buffer = buffer;
    if (!buffer) {
        CloseHandle(event);
        delete request;
        return nullptr;
    }
    return request;
}

bool IssueChangeRequest(ChangeRequest& request, DirHandle directory)
{
    request.overlapped.Offset = 0;
    request.overlapped.OffsetHigh = 0;
    return ReadDirectoryChangesW(directory, request.buffer, request.bufferBytes, TRUE,
                                 kNotifyFilter, &request.bytesReturned, &request.overlapped,
                                 nullptr) != FALSE;
}

void WaitForChangeRequest(ChangeRequest& request)
{
    WaitForSingleObject(request.overlapped.hEvent, INFINITE);
}

std::size_t CompletedRequestBytes(ChangeRequest& request, DirHandle directory)
{
    // An overflow completes with no records: as success with 0 bytes on
    // Windows, as ERROR_NOTIFY_ENUM_DIR under Wine. Either way the buffer
    // holds nothing the system wrote for this request.
    DWORD bytes = 0;
    if (!GetOverlappedResult(directory, &request.overlapped, &bytes, FALSE))
        return 0;
    return bytes <= request.bufferBytes ? bytes : 0;
}

const unsigned char* RequestBuffer(const ChangeRequest& request)
{
    return request.buffer;
}

} // namespace platform
