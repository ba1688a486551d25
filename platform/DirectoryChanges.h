#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A Windows HANDLE on a watched directory. Each kind of handle is a
// pointer to a type of its own, never defined, so none can be passed for
// another.
struct DirHandleTag;
using DirHandle = DirHandleTag*;
DirHandle InvalidDirHandle();

// CreateFileW on a directory: list and read access, shared for read, write
// and delete, backup semantics (needed for directories), overlapped. On
// failure, `error` is the system's error code.
DirHandle OpenWatchedDirectory(const std::wstring& root, uint32_t& error);
void CloseDirectory(DirHandle handle);

// One asynchronous change request on one directory: its event, its
// OVERLAPPED record and the buffer that the system fills. Never freed: after
// a watcher has been killed a pending request may still write into it,
// until its directory is closed.
struct ChangeRequest;

// Creates the request storage with a manual-reset event. Null when the event
// or the buffer could not be created.
ChangeRequest* CreateChangeRequest(DirHandle directory, std::size_t bufferBytes);

// ReadDirectoryChangesW over the subtree with the filter FILE_NAME,
// DIR_NAME, SIZE and LAST_ACCESS. False when the system refuses the request,
// with its error code in `error`.
bool IssueChangeRequest(ChangeRequest& request, uint32_t& error);

// True once the request has completed; never blocks.
bool ChangeRequestCompleted(ChangeRequest& request);

// What a completed request delivered.
struct CompletedChanges {
    // FILE_NOTIFY_INFORMATION records, valid until the next request is
    // issued; only `bytes` of them were written by the system.
    const unsigned char* records = nullptr;
    std::size_t bytes = 0;
    // The system dropped records: its own buffer overflowed (no bytes on
    // Windows, ERROR_NOTIFY_ENUM_DIR under Wine) or the request failed.
    bool lost = false;
};

// After completion: the records, or that records were lost.
CompletedChanges TakeCompletedChanges(ChangeRequest& request);

} // namespace platform
