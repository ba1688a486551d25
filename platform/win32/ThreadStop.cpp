#include "platform/ThreadStop.h"

#include <windows.h>
#include <wx/thread.h>

namespace platform {

ThreadEnd PrepareToAwaitEnd(wxThread& thread)
{
    // A handle of our own: the library closes the thread's handle in Kill.
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(thread.MSWGetHandle()),
                         GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0))
        return nullptr;
    return static_cast<ThreadEnd>(own);
}

bool AwaitThreadEnd(ThreadEnd end, wxThread&, unsigned milliseconds)
{
    if (!end)
        return false;
    const bool ended = WaitForSingleObject(static_cast<HANDLE>(end), milliseconds) == WAIT_OBJECT_0;
    CloseHandle(static_cast<HANDLE>(end));
    return ended;
}

void ReleaseThreadEnd(ThreadEnd end)
{
    if (end)
        CloseHandle(static_cast<HANDLE>(end));
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
