#pragma once
#include <windows.h>

#include "platform/ScannerProcess.h"

namespace platform {

// A running scanner: its process, and the temporary file its output goes
// to (deleted when the last handle on it closes), or null.
struct ScannerRun {
    HANDLE process = nullptr;
    HANDLE output = nullptr;
};

inline ScannerRun* RunOf(ProcessHandle handle)
{
    return reinterpret_cast<ScannerRun*>(handle);
}

} // namespace platform
