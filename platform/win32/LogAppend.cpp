#include "platform/LogAppend.h"

#include <windows.h>

namespace platform {

void AppendToFile(const std::wstring& path, const std::string& bytes)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the
    // end of the file as one unit, whoever else appends at the same time.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace platform
