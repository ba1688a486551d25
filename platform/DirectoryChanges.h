#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A Windows HANDLE on a watched directory.
using DirHandle = void*;
DirHandle InvalidDirHandle();

// CreateFileW on a directory: list and read access, shared for read, write
// and delete, backup semantics (needed for directories), overlapped.
DirHandle OpenWatchedDirectory(const std::wstring& root);
void CloseDirectory(DirHandle handle);

// One asynchronous change request: its event, its OVERLAPPED record and the
// buffer that the system fills. Never freed: after a watcher has been killed
// a pending request may still write into it, until its handle is closed.
struct ChangeRequest;

// Creates the request storage with a manual-reset event. Null when the event
// could not be created.
ChangeRequest* CreateChangeRequest(std::size_t bufferBytes);

// ReadDirectoryChangesW over the subtree with the filter FILE_NAME,
// DIR_NAME, SIZE and LAST_ACCESS. False when the system refuses the request.
bool IssueChangeRequest(ChangeRequest& request, DirHandle directory);

// Blocks until the request has completed.
void WaitForChangeRequest(ChangeRequest& request);

// After completion: the number of bytes of records that the system wrote
// into the buffer; 0 when it wrote none (overflow, or an error status).
std::size_t CompletedRequestBytes(ChangeRequest& request, DirHandle directory);

const unsigned char* RequestBuffer(const ChangeRequest& request);

} // namespace platform
