#pragma once
// The Win32 layout of a change request, shared by the adapters that use its
// event.
#include <windows.h>

#include "platform/DirectoryChanges.h"

namespace platform {

struct ChangeRequest {
    OVERLAPPED overlapped;
    HANDLE directory;
    DWORD bytesReturned; // handed to every request, never read
    DWORD bufferBytes;
    unsigned char* buffer;
};

} // namespace platform
