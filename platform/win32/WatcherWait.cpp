#include "platform/WatcherWait.h"

#include <windows.h>

#include "platform/win32/ChangeRequestStorage.h"

namespace platform {

void WaitForChangesOrScanner(ChangeRequest* request, ProcessHandle scanner, unsigned milliseconds)
{
    HANDLE handles[2];
    DWORD count = 0;
    if (request)
        handles[count++] = request->overlapped.hEvent;
    if (scanner)
        handles[count++] = scanner;
    if (count == 0) {
        Sleep(milliseconds);
        return;
    }
    WaitForMultipleObjects(count, handles, FALSE, milliseconds);
}

} // namespace platform
