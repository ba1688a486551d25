#include "platform/ThreadStop.h"

#include <windows.h>

namespace platform {

void AwaitKilledThread(wxThread&)
{
    // TerminateThread has already ended it.
}

namespace {

DWORD WINAPI StopWatchdog(void* parameter)
{
    Sleep(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter)));
    // Nothing may run here that could wait for a lock: end the process now.
    TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

} // namespace

void ArmStopWatchdog(unsigned milliseconds)
{
    HANDLE thread = CreateThread(nullptr, 0, StopWatchdog,
                                 reinterpret_cast<void*>(static_cast<ULONG_PTR>(milliseconds)), 0,
                                 nullptr);
    if (thread)
        CloseHandle(thread);
}

} // namespace platform
