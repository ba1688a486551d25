#include "platform/WatcherWait.h"

#include <windows.h>

#include "platform/win32/ChangeRequestStorage.h"
#include "platform/win32/FolderListingStorage.h"
#include "platform/win32/ScannerRunStorage.h"

namespace platform {

void WaitForWork(ChangeRequest* request, ProcessHandle scanner, FolderListing listing, unsigned milliseconds)
{
    HANDLE handles[3];
    DWORD count = 0;
    if (request)
        handles[count++] = request->overlapped.hEvent;
    if (scanner)
        handles[count++] = RunOf(scanner)->process;
    if (listing)
        handles[count++] = listing->read->firstReadEnded;
    if (count == 0) {
        Sleep(milliseconds);
        return;
    }
    WaitForMultipleObjects(count, handles, FALSE, milliseconds);
}

} // namespace platform
